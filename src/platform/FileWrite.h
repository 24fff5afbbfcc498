#pragma once

#include <QByteArray>
#include <QString>

// How the program changes its files (settings files, the registry store, autostart entries):
// one rule for whether a file may be written and one way of writing it whole.
namespace FileWrite {

// True when WriteWholeFile may change the file. Symbolic links are followed as it follows
// them. An existing file must be a regular file that the caller may write and that has at
// least one write permission bit (a file marked read-only stays so, even for root); a new
// file needs a directory that may take it (DirectoryWritable).
bool MayWrite(const QString &fileName);

// True when the directory exists and may be written, or could be created below the nearest
// existing directory above it. A directory without any write permission bit counts as
// read-only, whoever asks.
bool DirectoryWritable(const QString &directory);

// Creates the directory and any missing one above it; the directory itself, when it is
// made here, gets perms (octal mode bits). True when it exists afterwards.
bool MakeDirectory(const QString &directory, unsigned perms);

// Writes data to fileName, following symbolic links to the file they point at (the links
// stay). Where the directory allows it the file is replaced atomically: a temporary file
// beside it, flushed and synced, takes the old file's owner, group and mode and is renamed
// over it, so an interrupted write leaves the old file whole. A member of the group of a file
// that the group may write as its owner may (root:veskora 0660, say) becomes the new file's
// owner where the old one is root or in the group too, so that nobody's access changes.
// Where the directory takes no new file, or the owner or group could not be kept, an
// existing file is rewritten in place instead. A new file gets newFilePerms (octal mode
// bits). False on any failure.
bool WriteWholeFile(const QString &fileName, const QByteArray &data, unsigned newFilePerms);

} // namespace FileWrite
