// tandor: mobile-broadband connection manager.
#include "supervisor/programstart.h"

int main(int argc, char** argv) {
    st_main(argc, argv);
}
