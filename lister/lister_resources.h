// The resources of LumbraPorts: the dialog template of the lister window and its icon.
#pragma once

#include "platform/base/types.h"
#include "platform/ui/resources.h"

#define IDD_LISTER 1001
#define IDI_LISTER 8001
// The one image of the icon group IDI_LISTER.
#define IDI_LISTER_IMAGE 1

#define IDC_PORT_LIST 4001
#define IDC_AUTHOR_TEXT 4002
#define IDC_WEB_TEXT 4003
#define IDC_APP_ICON 4004
#define IDC_VERSION_TEXT 4005

// The window class that the dialog template names; one running window of it marks a
// running lister.
#define LISTER_CLASS_NAME TEXT("LumbraClass")

// The lister's resource table: the template IDD_LISTER, the icon group IDI_LISTER and its
// image. The languages are English (United States).
const platform::ResourceTable& ListerResources();
