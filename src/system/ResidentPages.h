#pragma once

#include <QSet>
#include <QString>

// This process's hold on the pages of the files it maps. A library that stays loaded once its
// work is done (one that pins itself, or one the loader cannot let go) keeps the pages of its
// code mapped, and they count as resident memory of the process although they are only the
// file's cached copy: let go of, they stay in the page cache and come back by a fault where the
// code runs again.
namespace ResidentPages {

// The files mapped into this process now, by path.
QSet<QString> MappedFiles();

enum class Which { Listed, Unlisted };

// Lets go of the pages of every read-only private mapping of a file in files (Listed) or of any
// other file (Unlisted) that holds no page of its own (one the process wrote, as the loader does
// while it relocates a library); returns the bytes that were resident there. A file must not be
// unmapped by another thread meanwhile: what takes its place would be let go of too.
qint64 Release(const QSet<QString> &files, Which which);

} // namespace ResidentPages
