<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Localizable</name>
    <message>
        <source>Install</source>
        <translation>Installieren</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Deinstallieren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>UninstallerRemoveBackups</source>
        <translation>Auch die Sicherungskopien der vom Dienst ersetzten Dateien löschen</translation>
    </message>
    <message>
        <source>InstallerPackageInfo</source>
        <translation>Hiermit wird Quorvantis Remote Support, Version $(1.0.0), auf diesem Computer installiert, damit unser Support-Team Ihnen auf Ihren Wunsch helfen kann. Sie werden nach dem Passwort eines Administrators gefragt.</translation>
    </message>
    <message>
        <source>UninstallerPackageInfo</source>
        <translation>Hiermit wird Quorvantis Remote Support von diesem Computer entfernt. Version des Deinstallationsprogramms: $(1.0.0). Sie werden nach dem Passwort eines Administrators gefragt.</translation>
    </message>
    <message>
        <source>InstallerPackageTitle</source>
        <translation>Quorvantis Remote Support installieren</translation>
    </message>
    <message>
        <source>UninstallerPackageTitle</source>
        <translation>Quorvantis Remote Support deinstallieren</translation>
    </message>
    <message>
        <source>QuorvantisRemotedInstaller</source>
        <translation>Quorvantis Remote Installationsprogramm</translation>
    </message>
    <message>
        <source>QuorvantisRemotedUninstaller</source>
        <translation>Quorvantis Remote Deinstallationsprogramm</translation>
    </message>
    <message>
        <source>InstallerAgentAuthPromt</source>
        <translation>Quorvantis Remote Support benötigt die Erlaubnis eines Administrators, um sein Installationsprogramm einzurichten.</translation>
    </message>
    <message>
        <source>PrivilegedAgentNotInstalled</source>
        <translation>Das Installationsprogramm konnte nicht eingerichtet werden, daher wurde nichts verändert. Bitte starten Sie das Programm erneut und erlauben Sie die Änderungen, wenn Sie danach gefragt werden.</translation>
    </message>
    <message>
        <source>PrivilegedAgentFailed</source>
        <translation>Der Vorgang konnte nicht abgeschlossen werden; der vorherige Zustand wurde beibehalten. Was schiefging, steht in den Protokolldateien in {LOG_DIR}; bitte senden Sie sie an unser Support-Team.</translation>
    </message>
    <message>
        <source>YES</source>
        <translation>Jetzt neu starten</translation>
    </message>
    <message>
        <source>RebootLaterButton</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>MustRebootInfo</source>
        <translation>Ihr Computer muss neu gestartet werden, um die Installation abzuschließen.</translation>
    </message>
    <message>
        <source>QvtRemotedInstaller</source>
        <translation>QvtRemotedInstaller</translation>
    </message>
    <message>
        <source>About QvtRemotedInstaller</source>
        <translation>Über QvtRemotedInstaller</translation>
    </message>
    <message>
        <source>Hide QvtRemotedInstaller</source>
        <translation>QvtRemotedInstaller ausblenden</translation>
    </message>
    <message>
        <source>Quit QvtRemotedInstaller</source>
        <translation>QvtRemotedInstaller beenden</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>QvtRemotedInstaller Help</source>
        <translation>QvtRemotedInstaller-Hilfe</translation>
    </message>
</context>
</TS>
