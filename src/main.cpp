#include "app/startup.h"

int main(int argc, char **argv)
{
    return auralist::runAuralist(argc, argv);
}
