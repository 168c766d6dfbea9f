#pragma once

// Declarations that Microsoft documents and this mingw-w64's headers lack, written from
// the documentation (winuser.h's TOUCHPAD_PARAMETERS and SystemParametersInfo's table;
// propkey.h's edge-gesture key). Each carries its documented value; the structure's
// layout is checked below, so a field out of place fails the build rather than a call.

#include <windows.h>
#include <wtypes.h>

#include <cstddef>

namespace velmora {

// SystemParametersInfo actions, from Windows 11 24H2 (build 26100) on. uiParam is the
// structure's size, and its versionNumber must name the version the caller fills in.
inline constexpr UINT spi_get_touchpad_parameters = 0x00AE;
inline constexpr UINT spi_set_touchpad_parameters = 0x00AF;
inline constexpr UINT touchpad_parameters_version_1 = 1;

// TOUCHPAD_PARAMETERS, version 1. The two enumerations (LEGACY_TOUCHPAD_FEATURES,
// TOUCHPAD_SENSITIVITY_LEVEL) are int-sized; the BOOL bit-fields fill two 32-bit words.
struct TouchpadParameters {
  UINT versionNumber;
  UINT maxSupportedContacts;
  INT legacyTouchpadFeatures;
  // First word: what the system found.
  UINT touchpadPresent : 1;
  UINT legacyTouchpadPresent : 1;
  UINT externalMousePresent : 1;
  UINT touchpadEnabled : 1;
  UINT touchpadActive : 1;
  UINT feedbackSupported : 1;
  UINT clickForceSupported : 1;
  UINT Reserved1 : 25;
  // Second word: the user's settings.
  UINT allowActiveWhenMousePresent : 1;
  UINT feedbackEnabled : 1;
  UINT tapEnabled : 1;
  UINT tapAndDragEnabled : 1;
  UINT twoFingerTapEnabled : 1;
  UINT rightClickZoneEnabled : 1;
  UINT mouseAccelSettingHonored : 1;
  UINT panEnabled : 1;
  UINT zoomEnabled : 1;
  UINT scrollDirectionReversed : 1;
  UINT Reserved2 : 22;
  INT sensitivityLevel;
  UINT cursorSpeed;
  UINT feedbackIntensity;
  UINT clickForceSensitivity;
  UINT rightClickZoneWidth;
  UINT rightClickZoneHeight;
};
static_assert(sizeof(TouchpadParameters) == 44, "eleven 32-bit words, as documented");
static_assert(offsetof(TouchpadParameters, legacyTouchpadFeatures) == 8);
static_assert(offsetof(TouchpadParameters, sensitivityLevel) == 20, "the bit-fields take two words");
static_assert(offsetof(TouchpadParameters, rightClickZoneHeight) == 40);

// PKEY_EdgeGesture_DisableTouchWhenFullscreen: VT_BOOL VARIANT_TRUE on a window keeps the
// shell's edge swipes from acting while that window is active and full-screen.
inline constexpr PROPERTYKEY pkey_edge_gesture_disable_touch_when_fullscreen = {
    {0x32CE38B2, 0x2C9A, 0x41B1, {0x9B, 0xC5, 0xB3, 0x78, 0x43, 0x94, 0xAA, 0x44}}, 2};

}  // namespace velmora
