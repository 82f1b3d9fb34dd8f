// Images on the huge-page allocator behave as on OpenCV's own, small and large.
#include "app/huge_page_allocator.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

TEST(HugePageAllocator, LargeAndSmallImagesWorkAndTheDefaultComesBack) {
    cv::MatAllocator* const standard = cv::Mat::getDefaultAllocator();
    {
        edgebin::cli::HugePageAllocator allocator;
        const edgebin::cli::ScopedMatAllocator scope(&allocator);
        EXPECT_EQ(cv::Mat::getDefaultAllocator(), &allocator);

        // Above and below the huge-page size, with a row length that is no multiple of it.
        for (const cv::Size size : {cv::Size(3001, 1400), cv::Size(17, 5)}) {
            cv::Mat image(size, CV_32SC1);
            EXPECT_EQ(image.u->currAllocator, &allocator);
            cv::randu(image, cv::Scalar(-1000), cv::Scalar(1000));
            const cv::Mat copy = image.clone();
            cv::Mat view = image(cv::Rect(1, 1, size.width - 2, size.height - 2));
            view += 1;
            EXPECT_EQ(cv::countNonZero(image(cv::Rect(0, 0, size.width, 1)) !=
                                       copy(cv::Rect(0, 0, size.width, 1))),
                      0);
            EXPECT_EQ(image.at<int>(2, 2), copy.at<int>(2, 2) + 1);
            image.release();
            EXPECT_EQ(view.at<int>(0, 0), copy.at<int>(1, 1) + 1);  // the view keeps the data
        }
    }
    EXPECT_EQ(cv::Mat::getDefaultAllocator(), standard);
}
