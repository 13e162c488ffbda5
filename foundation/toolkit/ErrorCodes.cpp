#include "ErrorCodes.h"

const char* L_ErrorMessage(int code) {
    switch (code) {
        case -1:
        case -3: return "Not enough memory available!";
        case -2: return "Invalid bitmap handle!";
        case -4: return "Error seeking to position!";
        case -5: return "Error writing file!";
        case -6: return "File not present - abort!";
        case -7: return "Error reading file!";
        case -8: return "Invalid filename specified!";
        case -9: return "Invalid file format!";
        case -10: return "File not found!";
        case -11: return "Invalid width/height!";
        case -12: return "Image format recognized, but sub-type not supported!";
        case -13: return "Invalid parameter!";
        case -14: return "Not able to open file!";
        case -15: return "Unknown compression format!";
        case -16: return "Feature not supported!";
        case -17: return "VGA card only supports 256 colors (8 bit)!";
        case -18: return "Printer error!";
        case -19: return "Data CRC check error!";
        case -21: return "Invalid QFactor specified!";
        case -22: return "TARGA not installed!";
        case -23: return "Invalid compression format!";
        case -24: return "X origin specified invalid!";
        case -25: return "Y origin specified invalid!";
        case -26: return "Invalid video mode!";
        case -27: return "Invalid bits/pixel!";
        case -28: return "Invalid window size!";
        case -29: return "Escape key pressed!";
        case -65: return "Stamp not found!";
        case -70: return "Invalid group 3 data!";
        case -71:
        case -72: return "Group3 code end of code!";
        case -73: return "Premature EOF at scanline!";
        case -74:
        case -75:
        case -76:
        case -77: return "Premature end-of-line code!";
        case -78: return "Bad version number!";
        case -79: return "Source manager not found!";
        case -80: return "Failure due to unknown causes!";
        case -81: return "Not enough memory to perform operation!";
        case -82: return "No Data Source!";
        case -83: return "DS is connected to max possible apps!";
        case -84: return "DS or DSM reported error, app shouldn't!";
        case -85: return "Unknown capability!";
        case -86: return "Unrecognized MSG DG DAT combination!";
        case -87: return "Data parameter out of range!";
        case -88: return "DG DAT MSG out of expected sequence!";
        case -89: return "Unknown destination App/Src in DSM_Entry!";
        case -90:
        case -100: return "Operation was cancelled!";
        case -110: return "PostScript cannot be shown: Ghostscript (gs) is not installed!";
        default: return "Internal or Unrecognized Error!";
    }
}
