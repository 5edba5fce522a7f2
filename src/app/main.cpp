// Vornakel Transfer.
#include "app/ApplicationMain.h"

int main(int argc, char** argv)
{
    return vornakel::runApplication(argc, argv);
}
