#pragma once

// The device tree as plain data: the window turns it into its tree widget.

#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace parvault {

// Indices into the window's 13-picture tree image list.
enum TreeImage : int {
    TreeImageGroupA = 0, // codes 20, 25, 27, 28, 35..37
    TreeImageGroupB = 1, // code 23
    TreeImageGroupC = 2, // codes 21, 22, 24, 29..33, 38..42
    TreeImageGroupD = 3, // every other code
    TreeImageList = 4,
    TreeImageRoot = 7,
    TreeImageSelectedOffset = 8, // selected group picture = group picture + 8
    TreeImageListSelected = 12,
    TreeImageCount = 13
};

inline const QString kTreeRootText = QStringLiteral("Приборы");

struct TreeNode {
    QString text;
    int image = 0;
    int selectedImage = 0;
    int32_t data = 0; // list number * 256 + device type code (never stored in files)
    bool expanded = false;
    std::vector<TreeNode> children;
};

// Only these device type codes become groups.
inline constexpr int kMinGroupCode = 2;
inline constexpr int kMaxGroupCode = 63;
inline bool IsGroupCode(int32_t code) { return code > 1 && code < 64; }

// The type code keeps the low byte; the list number takes the bits above it,
// as many as a folder's lists need (up to 2^23 - 1).
inline int32_t MakeItemData(int listNumber, int typeCode) { return listNumber * 256 + typeCode; }
inline int TypeCodeOf(int32_t itemData) { return itemData & 0xFF; }
inline int ListNumberOf(int32_t itemData) { return (itemData >> 8) & 0x7FFFFF; }

// Picture and selected picture of a device type group.
std::pair<int, int> GroupImages(int32_t typeCode);

} // namespace parvault
