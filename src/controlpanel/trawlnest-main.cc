// The control panel program: the toolkit's entry with the application object.
#include "controlpanel/cp-app.h"

wxIMPLEMENT_APP(lumbrake::WXControlPanelApp);
