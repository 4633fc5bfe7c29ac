// Entry point of the windowed program.
#include "app/ui/tquorvellaapp.h"

int main(int argc, char** argv)
{
    return QuorvellaMain(argc, argv);
}
