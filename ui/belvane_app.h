// The application object of Belvane: all it does is run the main dialog once.
#pragma once

#include "platform/app/afx.h"

class BelvaneApp : public CWinApp {
  public:
    BelvaneApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
