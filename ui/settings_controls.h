// The main window's settings controls: the frequency scale, the two
// granularity lists and their coupling, the brightness mapping, the master
// gain, the duration, the source groups and the time-per-line read-out.
#pragma once

#include <functional>
#include <string>

class QLineEdit;
class QObject;
class QWidget;

namespace vellomar {

class MainWindow;

// What a file field shows while its path is empty.
inline constexpr const char* kNotSelected = "[Not selected]";

// Shows `path` in a file field, or kNotSelected when it is empty.
void showPathInField(QLineEdit* edit, const std::string& path);

// Sets every control of the window from the settings.
void populateSettingsControls(MainWindow& window);

// Empties and refills the two granularity lists from the sample rate.
void buildGranularityLists(MainWindow& window);

// Select the entry matching the settings; false (after internal error #02)
// when none does.
bool selectFrequencyGranularityEntry(MainWindow& window);
bool selectTimeGranularityEntry(MainWindow& window);

// A new choice in the frequency (time) granularity list.
void applyFrequencyGranularity(MainWindow& window);
void applyTimeGranularity(MainWindow& window);

// Sub-blocks (and, when allowed, the block length) from the time list.
void deriveSubBlocks(MainWindow& window, bool mayChangeBlockLength);

// Shows the input-file group and hides the duration group, or the reverse.
void showSourceControls(MainWindow& window, bool waveFile);

// Recomputes, shows or hides the time-per-line read-out.
void refreshTimePerLineLabel(MainWindow& window);

// What each settings control does when it leaves or changes.
void applyScaleSelection(MainWindow& window);
void applyBrightnessMapping(MainWindow& window, bool logarithmic);
void applyRangeEdit(MainWindow& window);
void applyGainEdit(MainWindow& window);
void applyGainSlider(MainWindow& window);
void applyDurationEdit(MainWindow& window);

// The main window behind `window`, or null while it is being destroyed
// (its controls then go one by one and handlers must not touch them).
MainWindow* liveMainWindow(QObject* window);

// Runs `action` whenever `widget` loses the keyboard focus; with `onEnter`
// also when Enter is pressed in it.
void onFocusOut(QWidget* widget, std::function<void()> action, bool onEnter = false);

// Fills the scale list and hooks the handlers above to the controls.
void connectSettingsControls(MainWindow& window);

// The system's default sound, played on a refused duration. Tests replace
// it; an empty function restores QApplication::beep.
void setDefaultSound(std::function<void()> sound);

}  // namespace vellomar
