#include "BuildInfo.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Verticora %s (build %s)\n", verticora::versionString, verticora::buildString);
            return 0;
        }
    }
    std::printf("Verticora %s (build %s): the posture engine is built; the camera and tray application come next.\n",
                verticora::versionString, verticora::buildString);
    return 0;
}
