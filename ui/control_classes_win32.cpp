// The common controls' window classes, registered before a dialog template
// that names them is made into windows.
#include "ui/main_window.h"

#include <commctrl.h>

bool RegisterControlClasses() {
  // The job list and its header, the progress bar, and the buttons, boxes and
  // log in their themed (version 6) form.
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  return InitCommonControlsEx(&controls) != FALSE;
}
