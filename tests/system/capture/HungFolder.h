#pragma once
// A folder that hangs as a network folder whose server stopped answering
// does: mounted through the kernel's FUSE device at MOUNT_POINT, it lists
// one file, "picture.png", whose every open waits until the folder ends.
// Needs /dev/fuse and the right to mount (root). Ends, unmounting the
// folder, on SIGTERM or SIGINT.
//   returns 0 when ended, 77 when the folder cannot be mounted here, 1 on
//   another failure

int serveHungFolder(const char* mountPoint);
