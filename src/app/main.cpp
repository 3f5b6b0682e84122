#include "app/startup.h"

int main(int argc, char** argv)
{
    return tarnwick::app::run(argc, argv);
}
