#pragma once

#include <QString>

struct _PDLData;
class PackageFiles;
class UpdateView;

// The progress callback handed to the firmware-download library; it reports to
// the step whose flash is under way.
int getPDLData(_PDLData* data);

// The firmware update run: the package unpacked (or its rebuilt tree adopted)
// into "/download", checked, handed to the firmware-download library, and its
// progress shown on the update page.
class FirmwareStep final {
public:
    FirmwareStep(QString basePath, PackageFiles& files, UpdateView& view);

    // Flashes the package filename, or the tree rebuilt from its delta; false,
    // told on the view, when it was refused or the modem did not take it.
    bool flash(const QString& filename, bool rebuilt);
    // One progress report of the library: the bar, and each status line once.
    int report(const _PDLData& data);

private:
    bool refuse();

    QString basePath;
    PackageFiles& files;
    UpdateView& view;
};
