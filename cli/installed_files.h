// The files the command brings along, found where an installation puts them
// beside the program (<prefix>/bin/ostrand): the module in
// <prefix>/lib/ostrand/, the bundled example in <prefix>/share/ostrand/examples/.
// A program run from the build tree has no such files beside it and uses the
// ones of the build and source trees it was built in.
#pragma once

#include <string>

namespace cli {

// The folder of the running program, "" when it cannot be told.
std::string ProgramFolder();

// The module file the command loads unless told otherwise: the installed one
// when there is one beside programFolder, else builtModule.
std::string DefaultModule(const std::string& programFolder, const std::string& builtModule);
// The folder of the bundled example's meshes (no trailing separator): the
// installed one, else sourceFolder's examples/.
std::string ExampleFolder(const std::string& programFolder, const std::string& sourceFolder);

}  // namespace cli
