<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CMUpdater</name>
    <message>
        <source>The update in this folder is too old: it has expired.</source>
        <translation>Das Update in diesem Ordner ist zu alt: es ist abgelaufen.</translation>
    </message>
    <message>
        <source>Check version failed,updater will exit</source>
        <translation>Versionsprüfung fehlgeschlagen, das Update-Programm wird beendet</translation>
    </message>
    <message>
        <source>No new version, updater will exit</source>
        <translation>Keine neue Version, das Update-Programm wird beendet</translation>
    </message>
    <message>
        <source>Downloading software packages...</source>
        <translation>Softwarepakete werden heruntergeladen...</translation>
    </message>
    <message>
        <source>Downloading firmware packages...</source>
        <translation>Firmwarepakete werden heruntergeladen...</translation>
    </message>
    <message>
        <source>Download succeed</source>
        <translation>Download erfolgreich</translation>
    </message>
    <message>
        <source>Downloaded from the mirror %1</source>
        <translation>Vom Spiegelserver %1 heruntergeladen</translation>
    </message>
    <message>
        <source>Updater</source>
        <translation>Aktualisierung</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Description:</source>
        <translation>Beschreibung:</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>new version</source>
        <translation>Neue Version</translation>
    </message>
    <message>
        <source>Check update...</source>
        <translation>Suche nach Updates...</translation>
    </message>
    <message>
        <source>1.Download packages</source>
        <translation>1. Pakete laden</translation>
    </message>
    <message>
        <source>2.Update firmware</source>
        <translation>2. Firmware-Update</translation>
    </message>
    <message>
        <source>3.Update software</source>
        <translation>3. Software-Update</translation>
    </message>
    <message>
        <source>4.Update end</source>
        <translation>4. Update beendet</translation>
    </message>
    <message>
        <source>Software Update Package</source>
        <translation>Software-Updatepaket</translation>
    </message>
    <message>
        <source>Firmware Update Package</source>
        <translation>Firmware-Updatepaket</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>The download is limited to %1 kB/s (MAX_RATE).</source>
        <translation>Der Download ist auf %1 kB/s begrenzt (MAX_RATE).</translation>
    </message>
    <message>
        <source>Please select first!</source>
        <translation>Bitte zuerst ein Paket auswählen!</translation>
    </message>
    <message>
        <source>Backup your private data?</source>
        <translation>Ihre privaten Daten sichern?</translation>
    </message>
    <message>
        <source>Update  firmware failed.</source>
        <translation>Firmware-Aktualisierung fehlgeschlagen.</translation>
    </message>
    <message>
        <source>The modem firmware was not updated. Keep the modem plugged in and run the update again.</source>
        <translation>Die Firmware des Modems wurde nicht aktualisiert. Lassen Sie das Modem angeschlossen und führen Sie die Aktualisierung erneut aus.</translation>
    </message>
    <message>
        <source>The software update failed and the previous version was restored.</source>
        <translation>Die Software-Aktualisierung ist fehlgeschlagen; die vorherige Version wurde wiederhergestellt.</translation>
    </message>
    <message>
        <source>The software update failed and some files of the previous version could not be put back yet. They are kept and will be put back when the computer starts again. Restart the computer; if this message comes again, make sure that the installation directory can be written.</source>
        <translation>Die Software-Aktualisierung ist fehlgeschlagen, und einige Dateien der vorherigen Version konnten noch nicht zurückgelegt werden. Sie bleiben aufbewahrt und werden beim nächsten Start des Computers zurückgelegt. Starten Sie den Computer neu; erscheint diese Meldung erneut, stellen Sie sicher, dass in das Installationsverzeichnis geschrieben werden kann.</translation>
    </message>
    <message>
        <source>The software was updated, but your contacts and messages could not be put back yet. They are kept and will be put back the next time the updater starts.</source>
        <translation>Die Software wurde aktualisiert, aber Ihre Kontakte und Nachrichten konnten noch nicht zurückgelegt werden. Sie bleiben aufbewahrt und werden beim nächsten Start des Aktualisierungsprogramms zurückgelegt.</translation>
    </message>
    <message>
        <source>Starting the new version...</source>
        <translation>Die neue Version wird gestartet...</translation>
    </message>
    <message>
        <source>%1 is being released in stages; the release is paused</source>
        <translation>%1 wird schrittweise verteilt; die Verteilung ist angehalten</translation>
    </message>
    <message>
        <source>%1 is being released in stages; this computer&apos;s turn is not planned yet</source>
        <translation>%1 wird schrittweise verteilt; dieser Computer ist noch nicht eingeplant</translation>
    </message>
    <message>
        <source>%1 is being released in stages; this computer&apos;s turn comes at %2 %, expected from %3</source>
        <translation>%1 wird schrittweise verteilt; dieser Computer ist bei %2 % an der Reihe, voraussichtlich ab %3</translation>
    </message>
    <message>
        <source>The software update failed: the downloaded package is damaged and was not installed. The connection manager was left running.</source>
        <translation>Die Aktualisierung der Software ist fehlgeschlagen: Das heruntergeladene Paket ist beschädigt und wurde nicht installiert. Der Verbindungsmanager läuft weiter.</translation>
    </message>
    <message>
        <source>The new version of the connection manager did not start. The previous version was restored.</source>
        <translation>Die neue Version des Verbindungsmanagers ist nicht gestartet. Die vorherige Version wurde wiederhergestellt.</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Wird geladen...</translation>
    </message>
    <message>
        <source>Enter Download Mode</source>
        <translation>Download-Modus wird gestartet</translation>
    </message>
    <message>
        <source>Close Autorun</source>
        <translation>Autostart wird abgeschaltet</translation>
    </message>
    <message>
        <source>Reset DMP</source>
        <translation>DMP wird zurückgesetzt</translation>
    </message>
    <message>
        <source>Backup NV</source>
        <translation>NV-Daten werden gesichert</translation>
    </message>
    <message>
        <source>Switch to Download Mode</source>
        <translation>Wechsel in den Download-Modus</translation>
    </message>
    <message>
        <source>Download Armprg</source>
        <translation>Armprg wird geladen</translation>
    </message>
    <message>
        <source>Skip Armprg</source>
        <translation>Armprg wird übersprungen</translation>
    </message>
    <message>
        <source>Dwonload Partition table</source>
        <translation>Partitionstabelle wird geladen</translation>
    </message>
    <message>
        <source>Download Qcsbl File</source>
        <translation>Qcsbl-Datei wird geladen</translation>
    </message>
    <message>
        <source>Download Oemsbl File</source>
        <translation>Oemsbl-Datei wird geladen</translation>
    </message>
    <message>
        <source>Download Version File</source>
        <translation>Versionsdatei wird geladen</translation>
    </message>
    <message>
        <source>Download Efs File</source>
        <translation>EFS-Datei wird geladen</translation>
    </message>
    <message>
        <source>Reset SDP</source>
        <translation>SDP wird zurückgesetzt</translation>
    </message>
    <message>
        <source>Restore NV</source>
        <translation>NV-Daten werden wiederhergestellt</translation>
    </message>
    <message>
        <source>Close Download Mode</source>
        <translation>Download-Modus wird beendet</translation>
    </message>
    <message>
        <source>Open Autorun</source>
        <translation>Autostart wird eingeschaltet</translation>
    </message>
    <message>
        <source>Download Failed</source>
        <translation>Download fehlgeschlagen</translation>
    </message>
    <message>
        <source>Download Successfully</source>
        <translation>Download erfolgreich abgeschlossen</translation>
    </message>
    <message>
        <source>No Device</source>
        <translation>Kein Gerät gefunden</translation>
    </message>
    <message>
        <source>Open File Failed</source>
        <translation>Datei konnte nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Create NV File Failed</source>
        <translation>NV-Datei konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>Backup NV Failed</source>
        <translation>Sicherung der NV-Daten fehlgeschlagen</translation>
    </message>
    <message>
        <source>Switch Down Failed</source>
        <translation>Wechsel in den Download-Modus fehlgeschlagen</translation>
    </message>
    <message>
        <source>Device Failed</source>
        <translation>Gerätefehler</translation>
    </message>
    <message>
        <source>Down PRG Failed</source>
        <translation>Laden von PRG fehlgeschlagen</translation>
    </message>
    <message>
        <source>Switch CHPRG Failed</source>
        <translation>Wechsel zu CHPRG fehlgeschlagen</translation>
    </message>
    <message>
        <source>Down Ver Failed</source>
        <translation>Laden der Version fehlgeschlagen</translation>
    </message>
    <message>
        <source>Restart Failed</source>
        <translation>Neustart fehlgeschlagen</translation>
    </message>
    <message>
        <source>Restore Failed</source>
        <translation>Wiederherstellung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Downloading PRG</source>
        <translation>PRG wird geladen</translation>
    </message>
    <message>
        <source>Invalid software package.</source>
        <translation>Ungültiges Softwarepaket.</translation>
    </message>
    <message>
        <source>update end</source>
        <translation>Aktualisierung beendet</translation>
    </message>
    <message>
        <source>The update does not fit this installation; downloading the full package (%1 KB)...</source>
        <translation>Die Aktualisierung passt nicht zu dieser Installation; das vollständige Paket wird heruntergeladen (%1 KB)...</translation>
    </message>
    <message>
        <source>Unzip package...</source>
        <translation>Paket wird entpackt...</translation>
    </message>
    <message>
        <source>update fail.restore...</source>
        <translation>Aktualisierung fehlgeschlagen, Wiederherstellung...</translation>
    </message>
    <message>
        <source>Restore incomplete, backup kept.</source>
        <translation>Wiederherstellung unvollständig, Sicherung bleibt erhalten.</translation>
    </message>
    <message>
        <source>Backup user private data</source>
        <translation>Private Daten werden gesichert</translation>
    </message>
    <message>
        <source>Backup current version</source>
        <translation>Aktuelle Version wird gesichert</translation>
    </message>
    <message>
        <source>Start update software</source>
        <translation>Software wird aktualisiert</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>Art</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Size(KB)</source>
        <translation>Größe (KB)</translation>
    </message>
    <message>
        <source>Priority</source>
        <translation>Priorität</translation>
    </message>
    <message>
        <source>Stopping %1: the connection drops for a moment...</source>
        <translation>%1 wird beendet: Die Verbindung bricht kurz ab...</translation>
    </message>
    <message>
        <source>%1 %2 is installed and running.</source>
        <translation>%1 %2 ist installiert und läuft.</translation>
    </message>
    <message>
        <source>Resuming at %1 %...</source>
        <translation>Fortsetzen bei %1 %...</translation>
    </message>
    <message>
        <source>%1 of %2 MB</source>
        <translation>%1 von %2 MB</translation>
    </message>
    <message>
        <source>%1 of %2 KB</source>
        <translation>%1 von %2 KB</translation>
    </message>
    <message>
        <source>%1 %</source>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>%1 % - %2</source>
        <translation>%1 % - %2</translation>
    </message>
    <message>
        <source>%1 % - %2 - %3</source>
        <translation>%1 % - %2 - %3</translation>
    </message>
    <message>
        <source>about %1 s left</source>
        <translation>noch etwa %1 s</translation>
    </message>
    <message>
        <source>about %1 min left</source>
        <translation>noch etwa %1 min</translation>
    </message>
    <message>
        <source>The firmware update failed: the downloaded package is damaged and was not flashed. The connection manager was left running.</source>
        <translation>Die Aktualisierung der Firmware ist fehlgeschlagen: Das heruntergeladene Paket ist beschädigt und wurde nicht geflasht. Der Verbindungsmanager läuft weiter.</translation>
    </message>
    <message>
        <source>The software update failed: there is not enough free disk space to unpack it. Free some space and run the update again. The connection manager was left running.</source>
        <translation>Die Aktualisierung der Software ist fehlgeschlagen: Es ist nicht genug freier Speicherplatz zum Entpacken vorhanden. Geben Sie Speicherplatz frei und starten Sie die Aktualisierung erneut. Der Verbindungsmanager läuft weiter.</translation>
    </message>
    <message>
        <source>The software update failed: the package could not be unpacked. Run the update again. The connection manager was left running.</source>
        <translation>Die Aktualisierung der Software ist fehlgeschlagen: Das Paket konnte nicht entpackt werden. Starten Sie die Aktualisierung erneut. Der Verbindungsmanager läuft weiter.</translation>
    </message>
    <message>
        <source>Checking for a new version</source>
        <translation>Suche nach einer neuen Version</translation>
    </message>
    <message>
        <source>Step 1 of 3: new version</source>
        <translation>Schritt 1 von 3: neue Version</translation>
    </message>
    <message>
        <source>Step 2 of 3: choose packages</source>
        <translation>Schritt 2 von 3: Pakete auswählen</translation>
    </message>
    <message>
        <source>Step 3 of 3: update</source>
        <translation>Schritt 3 von 3: Aktualisierung</translation>
    </message>
    <message>
        <source>Version check</source>
        <translation>Versionsprüfung</translation>
    </message>
    <message>
        <source>The new version</source>
        <translation>Die neue Version</translation>
    </message>
    <message>
        <source>About the selected package</source>
        <translation>Über das ausgewählte Paket</translation>
    </message>
    <message>
        <source>Close the updater and change nothing</source>
        <translation>Das Update-Programm schließen, ohne etwas zu ändern</translation>
    </message>
    <message>
        <source>Choose the packages of the new version</source>
        <translation>Die Pakete der neuen Version auswählen</translation>
    </message>
    <message>
        <source>Return to the notice of the new version</source>
        <translation>Zurück zum Hinweis auf die neue Version</translation>
    </message>
    <message>
        <source>Download and install the ticked packages</source>
        <translation>Die angekreuzten Pakete herunterladen und installieren</translation>
    </message>
    <message>
        <source>Stop the download</source>
        <translation>Den Download anhalten</translation>
    </message>
    <message>
        <source>Packages</source>
        <translation>Pakete</translation>
    </message>
    <message>
        <source>Arrow keys choose a package, Space ticks it for the update</source>
        <translation>Die Pfeiltasten wählen ein Paket, die Leertaste kreuzt es für die Aktualisierung an</translation>
    </message>
    <message>
        <source>Install</source>
        <translation>Installieren</translation>
    </message>
    <message>
        <source>Update status</source>
        <translation>Stand der Aktualisierung</translation>
    </message>
    <message>
        <source>Progress of the running step</source>
        <translation>Fortschritt des laufenden Schritts</translation>
    </message>
    <message>
        <source>Install the modem firmware %1, %2 KB</source>
        <translation>Die Modem-Firmware %1 installieren, %2 KB</translation>
    </message>
    <message>
        <source>Install the connection manager %1 %2, %3 KB</source>
        <translation>Den Verbindungsmanager %1 %2 installieren, %3 KB</translation>
    </message>
</context>
</TS>
