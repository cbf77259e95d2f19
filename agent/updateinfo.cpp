#include "agent/updateinfo.h"

#include "base/installation.h"

UpdateInfoRecord clientRecord(const Installation& installation)
{
    const Settings& s = installation.settings;
    UpdateInfoRecord record;
    record.kind = 1;
    record.mode = UPDATE_MODE_MANUAL;
    _CLIENT_INFO& client = record.client;
    _CLIENT_INFO::copyField(client.os, "linux");
    _CLIENT_INFO::copyField(client.device, s.device.constData());
    _CLIENT_INFO::copyField(client.softwareVersion, s.softwareVersion.constData());
    _CLIENT_INFO::copyField(client.firmwareVersion, s.firmwareVersion.constData());
    _CLIENT_INFO::copyField(client.imei, s.imei.constData());
    _CLIENT_INFO::copyField(client.clientGroup, s.clientGroup.constData());
    _CLIENT_INFO::copyField(client.language, s.language.constData());
    record.deviceReady = s.deviceReady == "1";
    return record;
}
