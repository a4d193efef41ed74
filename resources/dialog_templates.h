// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog templates, the menu and the string table of the window
// program. Positions and sizes are in dialog units; the window builds its
// controls from these tables, in table order, which is also the tab order.
#pragma once

#include <cstddef>

namespace vellomar::templates {

enum class ControlKind {
  RadioButton,  // auto radio button
  GroupBox,
  PictureFrame,  // bitmap static with a sunken one-pixel edge
  Label,
  DropDownList,
  PushButton,
  DefaultButton,  // the dialog's default push button
  Edit,
  UpDown,  // arrows attached to the edit before it in the table
  Trackbar,
  BitmapStatic,
  Icon,
  Rule,  // a thin black horizontal line
};

// Style bits of a control.
enum ControlFlag : unsigned {
  kStartsGroup = 1u << 0,  // first radio button of a group
  kHidden = 1u << 1,
  kDisabled = 1u << 2,
  kAlignRight = 1u << 3,
  kMultiLine = 1u << 4,  // text may wrap
  kDigitsOnly = 1u << 5,
  kScrollsHorizontally = 1u << 6,
  kNoTickMarks = 1u << 7,
};

// An id of -1 marks a control that nothing refers to (a plain label).
inline constexpr int kNoId = -1;

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* objectName;
  const char* text;
  int x, y, width, height;
  unsigned flags;
  int resource;  // icon resource of an Icon control, else 0
};

struct DialogTemplate {
  int resourceId;
  const char* caption;
  int width, height;
  const ControlTemplate* controls;
  std::size_t controlCount;
};

// ---- String table ----

inline constexpr int kTitleStringId = 103;
inline constexpr const char* kTitleString = "Vellomar";

// ---- Icons ----

inline constexpr int kLargeIconId = 107;  // 32 x 32
inline constexpr int kSmallIconId = 108;  // 16 x 16

// ---- Menu 109 ----

inline constexpr int kMenuId = 109;
inline constexpr const char* kHelpMenuText = "&Help";
inline constexpr int kHelpCommandId = 32772;
inline constexpr const char* kHelpCommandText = "Help...";
inline constexpr int kAboutCommandId = 104;
inline constexpr const char* kAboutCommandText = "&About ...";

// ---- Main window, template 129 ----

using K = ControlKind;

inline constexpr ControlTemplate kMainWindowControls[] = {
    {1013, K::RadioButton, "whiteNoiseRadio", "White noise (flat spectrum)", 15, 20, 103, 10, kStartsGroup, 0},
    {1012, K::RadioButton, "pinkNoiseRadio", "Pink noise (-3dB/octave)", 15, 35, 94, 10, 0, 0},
    {1016, K::RadioButton, "waveFileRadio", "Wave file", 15, 50, 46, 10, 0, 0},
    {1015, K::GroupBox, "inputSourceGroup", "Input source", 7, 7, 116, 62, 0, 0},
    {1033, K::PictureFrame, "previewFrame", "", 286, 7, 205, 219, 0, 0},
    {kNoId, K::Label, "frequencyScaleLabel", "Frequency scale", 7, 79, 53, 8, 0, 0},
    {1018, K::DropDownList, "scaleList", "", 63, 77, 74, 53, 0, 0},
    {1017, K::PushButton, "templateButton", "Template", 142, 77, 41, 12, 0, 0},
    {kNoId, K::Label, "freqGranularityLabel", "Freq. granularity", 7, 100, 55, 8, 0, 0},
    {1019, K::DropDownList, "freqGranularityList", "", 63, 99, 46, 79, 0, 0},
    {kNoId, K::Label, "timeGranularityLabel", "Time granularity", 117, 101, 52, 8, 0, 0},
    {1020, K::DropDownList, "timeGranularityList", "", 171, 99, 51, 79, 0, 0},
    {1039, K::Label, "timePerLineLabel", "Time per picture line is XXX", 68, 119, 151, 9, kAlignRight | kHidden, 0},
    {kNoId, K::Label, "brightnessLabel", "Brightness to volume:", 7, 138, 70, 8, 0, 0},
    {1021, K::RadioButton, "linRadio", "Lin", 81, 138, 25, 10, kStartsGroup, 0},
    {1022, K::RadioButton, "logRadio", "Log - range:", 108, 138, 55, 10, 0, 0},
    {1025, K::Edit, "rangeEdit", "", 163, 136, 32, 14, kDigitsOnly, 0},
    {1024, K::UpDown, "rangeUpDown", "", 164, 137, 10, 13, 0, 0},
    {kNoId, K::Label, "rangeDbLabel", "dB", 199, 138, 9, 8, 0, 0},
    {kNoId, K::Label, "masterGainLabel", "Master gain", 7, 158, 38, 8, 0, 0},
    {1026, K::Trackbar, "gainSlider", "", 46, 155, 100, 15, kNoTickMarks, 0},
    {1027, K::Edit, "gainEdit", "", 148, 156, 21, 14, kDigitsOnly, 0},
    {kNoId, K::Label, "gainDbLabel", "dB", 172, 158, 9, 8, 0, 0},
    {1010, K::Label, "inputPathLabel", "Input wave file", 7, 185, 49, 8, kHidden, 0},
    {1008, K::Edit, "inputPathEdit", "", 7, 196, 198, 14, kHidden | kScrollsHorizontally, 0},
    {1028, K::Label, "durationLabel", "Duration", 7, 198, 28, 8, 0, 0},
    {1029, K::Edit, "durationEdit", "", 37, 196, 36, 14, 0, 0},
    {1030, K::Label, "secondsLabel", "seconds", 76, 198, 27, 8, 0, 0},
    {1009, K::PushButton, "inputBrowseButton", "...", 209, 196, 19, 14, kHidden, 0},
    {1011, K::Label, "outputPathLabel", "Output wave file", 7, 214, 54, 8, 0, 0},
    {1006, K::Edit, "outputPathEdit", "", 7, 225, 198, 14, kScrollsHorizontally, 0},
    {1007, K::PushButton, "outputBrowseButton", "...", 209, 225, 19, 14, 0, 0},
    {1005, K::PushButton, "loadPictureButton", "Load picture", 7, 246, 42, 22, kMultiLine, 0},
    {1004, K::PushButton, "generateButton", "Generate sound", 54, 246, 42, 22, kMultiLine | kDisabled, 0},
    {1003, K::PushButton, "playButton", "Play generated", 100, 246, 42, 22, kMultiLine | kDisabled, 0},
    {1002, K::PushButton, "exitButton", "Exit", 146, 246, 42, 22, 0, 0},
    {1031, K::BitmapStatic, "freqAxisStrip", "", 286, 232, 205, 36, 0, 0},
    {1032, K::BitmapStatic, "timeAxisStrip", "", 246, 7, 33, 219, 0, 0},
    {1, K::DefaultButton, "hiddenDefaultButton", "Hidden default button", 135, 25, 58, 28, kHidden, 0},
};

inline constexpr DialogTemplate kMainWindowTemplate = {
    129, "Vellomar", 498, 275, kMainWindowControls, sizeof kMainWindowControls / sizeof kMainWindowControls[0]};

// ---- About box, template 103 ----

inline constexpr ControlTemplate kAboutBoxControls[] = {
    {kNoId, K::Icon, "aboutIcon", "", 7, 7, 21, 20, 0, kLargeIconId},
    {kNoId, K::Label, "productNameLabel", "Vellomar", 40, 8, 170, 8, 0, 0},
    {kNoId, K::Label, "versionLabel", "ver. 1.0", 40, 18, 170, 8, 0, 0},
    {kNoId, K::Label, "descriptionLabel",
     "Vellomar allows you to generate sound or to filter existing sound. It uses a picture as a descripition of "
     "frequency spectrum changing over time.",
     40, 30, 213, 26, kMultiLine, 0},
    {kNoId, K::Rule, "aboutRule", "", 40, 60, 213, 1, 0, 0},
    {kNoId, K::Label, "limitationsLabel",
     "Known deficiencies in this version:\r\n- renders at 44100Hz only,\r\n- pressing ESC closes main window.",
     40, 66, 150, 42, kMultiLine, 0},
    {1, K::DefaultButton, "okButton", "OK", 203, 94, 50, 14, 0, 0},
};

inline constexpr DialogTemplate kAboutBoxTemplate = {
    103, "About Vellomar", 260, 115, kAboutBoxControls, sizeof kAboutBoxControls / sizeof kAboutBoxControls[0]};

}  // namespace vellomar::templates
