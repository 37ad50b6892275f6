#!/usr/bin/env python3
"""Makes a folder hang as a hung network folder does, for some files only.

    hold_opens.py FOLDER PATTERN REPORT SECONDS

Every open of a file in FOLDER whose name matches the regular expression
PATTERN waits (the kernel holds the caller, through fanotify's permission
events) until this program ends, SECONDS later at most; every other open goes
through at once. REPORT gets "ready" once the folder is watched and a line
"held NAME" for each open held. Exits 3, saying why, where the kernel does not
let it watch (no fanotify, no CAP_SYS_ADMIN).
"""
import ctypes
import os
import re
import select
import struct
import sys
import time

FAN_CLASS_CONTENT = 0x4
FAN_CLOEXEC = 0x1
FAN_MARK_ADD = 0x1
FAN_OPEN_PERM = 0x10000
FAN_EVENT_ON_CHILD = 0x08000000
FAN_ALLOW = 0x1
AT_FDCWD = -100
# struct fanotify_event_metadata: event_len, vers, reserved, metadata_len, mask, fd, pid
META = struct.Struct("=IBBHQii")


def main():
    folder, pattern, report, seconds = sys.argv[1], re.compile(sys.argv[2]), sys.argv[3], float(sys.argv[4])
    libc = ctypes.CDLL(None, use_errno=True)
    libc.fanotify_mark.argtypes = [ctypes.c_int, ctypes.c_uint, ctypes.c_uint64, ctypes.c_int, ctypes.c_char_p]
    fan = libc.fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, os.O_RDONLY)
    if fan < 0:
        print("hold_opens: fanotify_init: " + os.strerror(ctypes.get_errno()), file=sys.stderr)
        sys.exit(3)
    if libc.fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                          os.fsencode(folder)) != 0:
        print("hold_opens: fanotify_mark: " + os.strerror(ctypes.get_errno()), file=sys.stderr)
        sys.exit(3)
    with open(report, "a") as out:
        out.write("ready\n")
    held = []  # answered only by our end, which lets them through
    end = time.monotonic() + seconds
    while (left := end - time.monotonic()) > 0:
        if not select.select([fan], [], [], left)[0]:
            break
        data = os.read(fan, 4096)
        at = 0
        while at + META.size <= len(data):
            length, _, _, _, _, fd, _ = META.unpack_from(data, at)
            at += length
            if fd < 0:
                continue
            name = os.path.basename(os.readlink("/proc/self/fd/%d" % fd))
            if pattern.search(name):
                held.append(fd)
                with open(report, "a") as out:
                    out.write("held %s\n" % name)
                continue
            os.write(fan, struct.pack("=iI", fd, FAN_ALLOW))
            os.close(fd)


if __name__ == "__main__":
    main()
