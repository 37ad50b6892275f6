// kadrix-decode: decodes one picture from outside the program, away from it.
#include "kit/image/Decoder.h"

int main(int argc, char** argv) {
    return kit::ImageIO::runDecoder(argc, argv);
}
