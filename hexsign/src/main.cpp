// QuenbyFlashUtility: completes the boot checksum word of a HEX firmware image and stamps its
// two-byte XOR signature, rewriting the file in place.
#include <hexsign/xorhex4.hpp>

int main(int argc, char** argv)
{
    return torvik::hexsign::RunSignTool(argc, argv);
}
