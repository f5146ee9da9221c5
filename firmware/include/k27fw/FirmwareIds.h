// USB identifiers of the two faces of the board's EZ-USB part: the bare part
// as it comes up without firmware (served by the loader) and the board that
// the downloaded firmware presents (served by vantrelio). The values are
// build options (K27_LOADER_VENDOR_ID, K27_LOADER_PRODUCT_ID,
// K27_BOARD_VENDOR_ID, K27_BOARD_PRODUCT_ID); the board defaults 0x1209/0x0001
// are test values, the bare part defaults are the part's built-in ones.
#pragma once

#include <cstdint>

#if !defined(K27_LOADER_VENDOR_ID) || !defined(K27_LOADER_PRODUCT_ID) || \
    !defined(K27_BOARD_VENDOR_ID) || !defined(K27_BOARD_PRODUCT_ID)
#error "link the k27_firmware_ids target to get the identifiers of this build"
#endif

inline constexpr std::uint16_t kLoaderVendorId = K27_LOADER_VENDOR_ID;
inline constexpr std::uint16_t kLoaderProductId = K27_LOADER_PRODUCT_ID;
inline constexpr std::uint16_t kBoardVendorId = K27_BOARD_VENDOR_ID;
inline constexpr std::uint16_t kBoardProductId = K27_BOARD_PRODUCT_ID;

// Where the board firmware keeps its USB descriptors: device, configuration
// (with interface and endpoints), string 0, strings 1 to 3, two zero bytes.
inline constexpr std::uint16_t kDescriptorBlockAddress = 0x0D6B;
