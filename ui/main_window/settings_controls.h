// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's settings controls: the frequency scale, the two
// granularity lists and their coupling, the brightness mapping, the master
// gain, the duration, the source groups and the time-per-line read-out.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <type_traits>

#include "engine/settings.h"

#include "ui/common/digits_field.h"

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

// Shows the input-file group and hides the duration group for a wave
// file source, or the reverse for the others. With sine tones the source
// group is disabled, its buttons giving way to a label that says so.
void showSourceControls(MainWindow& window, InputSource source);

// The source the window's source buttons have checked (pink noise when
// none is).
InputSource checkedSource(MainWindow& window);

// Selects the scale list's entry of renderSettings' scale.
void showScaleSelection(MainWindow& window);

// Recomputes, shows or hides the time-per-line read-out.
void refreshTimePerLineLabel(MainWindow& window);

// How a refresh reads the input file: quietly, or telling the user why the
// file cannot be used (after the user chose it).
enum class InputCheck { Quiet, Tell };

// The one refresh after any setting or file changed: reads the input file
// again (its duration), redraws the axes and refreshes the time-per-line
// read-out. Callers need not know which of them depends on what changed.
void refreshAfterChange(MainWindow& window, InputCheck check = InputCheck::Quiet);

// What each settings control does when it leaves or changes (its
// connection then calls refreshAfterChange).
void applyScaleSelection(MainWindow& window);
void applyBrightnessMapping(MainWindow& window, bool logarithmic);
void applyRangeEdit(MainWindow& window);
void applyGainEdit(MainWindow& window);
void applyGainSlider(MainWindow& window);
void applyDurationEdit(MainWindow& window);

// The main window behind `window`, or null while it is being destroyed
// (its controls then go one by one and handlers must not touch them).
MainWindow* liveMainWindow(QObject* window);
// The window as the object its connections belong to.
QObject* windowObject(MainWindow& window);

// Runs `command(window)` (or `command(window, arguments...)` when it takes
// the signal's arguments) whenever `sender` emits `signal`, for as long as
// the window lives.
template <typename Sender, typename Signal, typename Command>
void connectCommand(MainWindow& window, const Sender* sender, Signal signal, Command command) {
  QObject* context = windowObject(window);
  QObject::connect(sender, signal, context, [context, command](auto... arguments) {
    MainWindow* live = liveMainWindow(context);
    if (!live) return;
    if constexpr (std::is_invocable_v<Command, MainWindow&, decltype(arguments)...>) {
      command(*live, arguments...);
    } else {
      command(*live);
    }
  });
}

// Runs `command(window)` whenever the checkable `button` is turned on.
template <typename Button, typename Command>
void connectWhenChecked(MainWindow& window, const Button* button, Command command) {
  connectCommand(window, button, &Button::toggled, [command](MainWindow& w, bool on) {
    if (on) command(w);
  });
}

// Runs `command(window)` whenever `widget` loses the keyboard focus to
// another control (and, with `onEnter`, when Enter is pressed in it), for
// as long as the window lives.
void onFocusOut(QWidget* widget, MainWindow& window, void (*command)(MainWindow&), bool onEnter = false);

// Runs `action` whenever `widget` loses the keyboard focus; with `onEnter`
// also when Enter is pressed in it.
void onFocusOut(QWidget* widget, std::function<void()> action, bool onEnter = false);

// Fills the scale list and hooks the handlers above to the controls.
void connectSettingsControls(MainWindow& window);

}  // namespace vellomar
