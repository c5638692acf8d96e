#include "window/sharedstate.h"

unsigned char *displayBuffer = nullptr;
cv::VideoWriter *videoWriter = nullptr;
bool recording = false;
