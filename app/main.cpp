#include <iostream>
#include <string>
#include <vector>

#include "app/front_end.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    try {
        return RunEdgebin(args);
    } catch (const std::exception& error) {
        std::cout << "edgebin: internal error: " << error.what() << std::endl;
        return 1;
    }
}
