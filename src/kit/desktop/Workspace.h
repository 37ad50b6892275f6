#pragma once
// Opening URLs and files with the desktop's default applications, and showing
// a file in the file manager.
#include <string>

namespace kit::Workspace {

// False for a malformed URL or when no application takes it.
bool openURL(const std::string& url);
// False when the file does not exist or cannot be opened.
bool openFile(const std::string& path);
// Shows the file selected in the file manager (the freedesktop FileManager1
// service), else opens the folder that holds it. False when it does not exist.
bool revealFile(const std::string& path);

}  // namespace kit::Workspace
