#pragma once
// File functions for minizip that read the archive through a large read-ahead buffer with
// pread(2). minizip asks for 16 KiB at a time and seeks before every read; served from the
// buffer, a whole archive costs a few hundred system calls instead of tens of thousands.

#include <minizip/ioapi.h>

zlib_filefunc64_def ReadAheadFileFunctions();
