<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Localizable</name>
    <message>
        <source>Install</source>
        <translation>Install</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Uninstall</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>UninstallerRemoveBackups</source>
        <translation>Also delete the backups of files the service replaced</translation>
    </message>
    <message>
        <source>InstallerPackageInfo</source>
        <translation>This installs Quorvantis Remote Support, version $(1.0.0), on this computer, so that our support team can help you when you ask for it. You will be asked for an administrator's password.</translation>
    </message>
    <message>
        <source>UninstallerPackageInfo</source>
        <translation>This removes Quorvantis Remote Support from this computer. Uninstaller version: $(1.0.0). You will be asked for an administrator's password.</translation>
    </message>
    <message>
        <source>InstallerPackageTitle</source>
        <translation>Install Quorvantis Remote Support</translation>
    </message>
    <message>
        <source>UninstallerPackageTitle</source>
        <translation>Uninstall Quorvantis Remote Support</translation>
    </message>
    <message>
        <source>QuorvantisRemotedInstaller</source>
        <translation>Quorvantis Remote Installer</translation>
    </message>
    <message>
        <source>QuorvantisRemotedUninstaller</source>
        <translation>Quorvantis Remote Uninstaller</translation>
    </message>
    <message>
        <source>InstallerAgentAuthPromt</source>
        <translation>Quorvantis Remote Support needs an administrator's permission to install its installation helper.</translation>
    </message>
    <message>
        <source>PrivilegedAgentNotInstalled</source>
        <translation>The installation helper could not be set up, so nothing was changed. Please start the program again and allow it to make changes when you are asked.</translation>
    </message>
    <message>
        <source>PrivilegedAgentFailed</source>
        <translation>The operation could not be completed, and the previous state was kept. The log files in {LOG_DIR} tell what went wrong; please send them to our support team.</translation>
    </message>
    <message>
        <source>YES</source>
        <translation>Restart Now</translation>
    </message>
    <message>
        <source>RebootLaterButton</source>
        <translation>Later</translation>
    </message>
    <message>
        <source>MustRebootInfo</source>
        <translation>Your computer must be restarted to finish the installation.</translation>
    </message>
    <message>
        <source>QvtRemotedInstaller</source>
        <translation>QvtRemotedInstaller</translation>
    </message>
    <message>
        <source>About QvtRemotedInstaller</source>
        <translation>About QvtRemotedInstaller</translation>
    </message>
    <message>
        <source>Hide QvtRemotedInstaller</source>
        <translation>Hide QvtRemotedInstaller</translation>
    </message>
    <message>
        <source>Quit QvtRemotedInstaller</source>
        <translation>Quit QvtRemotedInstaller</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>QvtRemotedInstaller Help</source>
        <translation>QvtRemotedInstaller Help</translation>
    </message>
</context>
</TS>
