-- Added by build-msi to what wixl makes from quorv.wxs: one statement per line.
-- A component is installed only where its condition holds: the registration of the chosen scope,
-- the display mode and Language.ini only when given.
UPDATE `Component` SET `Condition` = 'REGISTERALLUSERS<>"0"' WHERE `Component` = 'RegisterAllUsers'
UPDATE `Component` SET `Condition` = 'REGISTERALLUSERS="0"' WHERE `Component` = 'RegisterPerUser'
UPDATE `Component` SET `Condition` = 'WINDOWDISPLAYMODE' WHERE `Component` = 'DisplayMode'
UPDATE `Component` SET `Condition` = 'LANGUAGEINI' WHERE `Component` = 'LanguageIni'
-- Language.ini: copied (Options 0) from the file LANGUAGEINI names into HOSTFOLDER, which the
-- CheckProperties action sets; removed from there when the product is removed (InstallMode 2).
CREATE TABLE `MoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `SourceName` CHAR(255) LOCALIZABLE, `DestName` CHAR(255) LOCALIZABLE, `SourceFolder` CHAR(72), `DestFolder` CHAR(72) NOT NULL, `Options` SHORT NOT NULL PRIMARY KEY `FileKey`)
INSERT INTO `MoveFile` (`FileKey`, `Component_`, `DestName`, `SourceFolder`, `DestFolder`, `Options`) VALUES ('LanguageIni', 'LanguageIni', 'Language.ini', 'LANGUAGEINI', 'HOSTFOLDER', 0)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('LanguageIni', 'LanguageIni', 'Language.ini', 'HOSTFOLDER', 2)
-- The public properties pass from the user interface to the installation server as given.
UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;WINDOWDISPLAYMODE;REGISTERALLUSERS;LANGUAGEINI;HOSTPROGRAM' WHERE `Property` = 'SecureCustomProperties'
-- wixl schedules MoveFiles only when it makes a MoveFile table itself: at its standard place,
-- after RemoveFiles and before InstallFiles.
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('MoveFiles', 3800)
