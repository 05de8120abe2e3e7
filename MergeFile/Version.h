#ifndef MERGEFILE_VERSION_H
#define MERGEFILE_VERSION_H

// Shown in the window title and by the command-line companion's --version.
#define MERGEFILE_VERSION_TEXT "v01.00.01"

#endif // MERGEFILE_VERSION_H
