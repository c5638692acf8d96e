#pragma once

#include <opencv2/core/core_c.h>

#include <memory>

struct RasterDeleter
{
    void operator()(IplImage *raster) const { cvReleaseImage(&raster); }
};

// A raster from cvCreateImage, released exactly once.
using RasterPtr = std::unique_ptr<IplImage, RasterDeleter>;
