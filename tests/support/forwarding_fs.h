// The platform's forwarding file system, under the names the test doubles use.
#pragma once

#include "platform/forwarding_fs.h"

namespace zelo::test {

using zelo::ForwardingDirHandle;
using zelo::ForwardingFile;
using zelo::ForwardingFileSystem;

} // namespace zelo::test
