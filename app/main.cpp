#include <iostream>
#include <string>
#include <vector>

#include "app/front_end.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    try {
        return RunEdgebin(args);
    } catch (const std::exception& error) {
        // cv::Exception texts end in a newline; the message stays one line.
        std::string what = error.what();
        while (!what.empty() && (what.back() == '\n' || what.back() == '\r')) {
            what.pop_back();
        }
        std::cout << "edgebin: internal error: " << what << std::endl;
        return 1;
    }
}
