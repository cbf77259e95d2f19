#include "base/globals.h"

QString BASE_PATH;
QString CM_NAME;
QString CM_PATH;
QString DEVICE;
QString WVDIAL;
QString SOFTWARE_VERSION;
QString FIRMWARE_VERSION;
std::chrono::seconds HEALTH_TIME{0};
std::chrono::seconds HOOK_TIME{300};
