// Program entry: hands the command line to the start-up spine.
#include "app/startup.h"

int main(int argc, char** argv) {
    return app::Main(argc, argv);
}
