// The preview panel of the image open dialog on the desktop: Qt's own (non-native) file
// dialog with the "Preview" check box, the picture and the image attributes below the list.
#pragma once

class QFileDialog;

// Adds the panel to the dialog (which it switches to Qt's own widgets); the panel lives as
// long as the dialog.
void AttachImagePreview(QFileDialog& dialog);
