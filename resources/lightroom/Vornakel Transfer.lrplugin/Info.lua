-- The Vornakel Transfer plug-in. The editor recognises it by its toolkit identifier; the plug-in serves the
-- start address lightroom://com.vornakel.transfer.lrplugin/start?receiveCommandsPort=N&sendResponsesPort=M
-- and answers one JSON object per line.
return {
    LrSdkVersion = 6.0,
    LrToolkitIdentifier = 'com.vornakel.transfer.lrplugin',
    LrPluginName = 'Vornakel Transfer',
    LrPluginInfoUrl = 'https://vornakel.com/transfer',
    VersionString = '1.0.0',
}
