// Identifiers of Belvane's resources and of the controls of its main dialog.
#pragma once

#include "platform/base/types.h"

constexpr UINT IDD_BELVANE_DIALOG = 102;
constexpr UINT IDR_MAINFRAME = 128;
constexpr int IDC_REPORT = 1000;
constexpr int IDC_DEPLOY = 1001;
constexpr int IDC_CANCEL_BUTTON = 1002;

// Chinese (PRC): the language the resources are filed under.
constexpr WORD BELVANE_RESOURCE_LANGUAGE = 2052;

// The icon images of icon group IDR_MAINFRAME: three sizes, each at three colour depths.
constexpr int ICON_IMAGE_COUNT = 9;
// Resource ids of the single images, 1 to ICON_IMAGE_COUNT.
constexpr WORD ICON_FIRST_IMAGE_ID = 1;
