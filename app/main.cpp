#include "Lifecycle.h"
#include "RoraridovApplication.h"

int main(int argc, char* argv[])
{
    RoraridovApplication app(argc, argv);
    return RunProgram();
}
