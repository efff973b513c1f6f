#include "devicetree.h"

namespace parvault {

std::pair<int, int> GroupImages(int32_t code) {
    int image = TreeImageGroupD;
    switch (code) {
    case 20: case 25: case 27: case 28: case 35: case 36: case 37:
        image = TreeImageGroupA;
        break;
    case 23:
        image = TreeImageGroupB;
        break;
    case 21: case 22: case 24: case 29: case 30: case 31: case 32: case 33:
    case 38: case 39: case 40: case 41: case 42:
        image = TreeImageGroupC;
        break;
    default:
        break;
    }
    return {image, image + TreeImageSelectedOffset};
}

} // namespace parvault
