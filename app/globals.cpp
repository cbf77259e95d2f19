#include "app/globals.h"

QApplication* app = nullptr;
QString BASE_PATH;
QString CM_NAME;
QString CM_PATH;
QString DEVICE;
QString WVDIAL;
CMUpdater* mainWindow = nullptr;
