// Ends the processes that run a given image file.
#pragma once

// 1 when the image should now be free (a process running it was ended, or
// the platform is neither family); 0 when nothing was terminated.
int TerminateProcessByPath(const char* path);
