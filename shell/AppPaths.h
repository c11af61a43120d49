// Where the program's own files lie.
#pragma once

#include <QString>

namespace restovo {

// The folder of the program file, with a trailing "/". Language files and a portable
// Config.ini are looked for below it.
QString AppDir();

// Makes AppDir() answer `dir` instead of the executable's folder (tests, or a start-up
// that knows better). An empty `dir` goes back to the executable's folder.
void SetAppDir(const QString& dir);

}  // namespace restovo
