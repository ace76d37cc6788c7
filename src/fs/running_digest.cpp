#include "fs/running_digest.h"

namespace tavro {

void RunningDigest::written(std::uint64_t offset, const void* data, std::size_t size) {
    if (!stream_) {
        return;
    }
    if (offset != bytes_ || !stream_->add(data, size)) {
        stream_.reset();  // the bytes are no longer known in file order
        return;
    }
    bytes_ += size;
}

std::string RunningDigest::finish(std::string& error) {
    if (!stream_) {
        error = "bytes not seen in order";
        return {};
    }
    std::string digest = stream_->finish(error);
    stream_.reset();
    return digest;
}

}  // namespace tavro
