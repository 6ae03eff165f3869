#pragma once
// plcburn-cli's trust in an image file: the check before an --image burn, and --verify-image.

#include <cstdint>
#include <span>

#include "app/common/cli_options.h"
#include "trust/image_trust.h"

namespace plcburn {

// The image file's bytes as read once, checked against the installed keys and --trusted-key.
// Bytes over the model's `limit` are left to the burn's size check, which refuses them itself.
ImageTrust CheckImageForBurn(const CliOptions& options, std::span<const std::uint8_t> bytes,
                             std::uint32_t limit);

// --verify-image: the facts of an accepted file on standard output, or why it is refused on
// standard error. 0 when it would be burned, 1 when refused.
int VerifyImageCommand(const CliOptions& options);

}  // namespace plcburn
