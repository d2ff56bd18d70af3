// Backup set definition files: XML documents whose root element "backupset"
// describes one set. Each child element is optional and sets one field:
//   "Name" (text): backupName;
//   "Type", "FolderCount", "FullPath", "AddComputerFolder",
//   "AddBackupSetFolder", "CreateLog", "ExcludeFromStartAll" (integers):
//   the field "backup" + the element's name;
//   "PreBackup" and "PostBackup": elements whose children "Program", "Args"
//   (texts), "Enabled", "WaitForCompletion", "IgnoreStatus", "Timeout" and
//   "TimeoutMS" (integers) set the field "preBackup" / "postBackup" + name;
//   "SourceFolders", "ExcludeFolders", "ExcludeFiles", "IncludeFiles"
//   (lists): sourceFolders, excludeFolders, excludeFiles, includeFiles.
// A list element holds one child element per entry, whatever its name; its
// text is the entry. There is no element for targetFolder or
// backupFollowSymLinks.
#pragma once

#include "backupset/BackupSet.h"
#include "foundation/XmlNode.h"

// Sets every field of `set` that has an element below `definition` (the
// "backupset" element); fields without one keep their values. Texts are
// taken as written; integers are the decimal value their text starts with
// (TBString::toInt32), unchecked. List entries are
// appended in document order, without normalisation or duplicate test;
// children of a list that are not elements are skipped. Takes no lock.
void readBackupSetDefinition(xml::XmlNode& definition, BackupSet& set);

// Makes every relative entry of the set's sourceFolders absolute by joining
// it to `folder` (the definition file's own folder), so a set means the same
// folders whatever folder it is later run from. Entries that begin with "/"
// and empty entries are left as they are; the joined text is not otherwise
// cleaned, so a wildcard entry keeps its pattern characters.
void resolveSourceFolders(BackupSet& set, const terbin::TBString& folder);
