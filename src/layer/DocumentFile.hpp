#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane::os {

// A document file opened for Open: read access, others may read but not write it meanwhile.
class DocumentReader {
public:
    // Throws EFOpenError ("ファイル %s は開けません" with the path) when the file cannot be opened.
    explicit DocumentReader(const std::string& path);
    ~DocumentReader();
    DocumentReader(const DocumentReader&) = delete;
    DocumentReader& operator=(const DocumentReader&) = delete;

    // Bytes from the current position to the end.
    std::size_t Size() const;
    // One read of Size() bytes; only the bytes actually read are returned.
    std::string ReadAll();

private:
    int fd_ = -1;
    std::size_t size_ = 0;
};

// A document file being saved. Nothing reaches the target until Commit; a failure on any path
// leaves the previous file as it was and no temporary file behind.
class DocumentWriter {
public:
    // Throws EFCreateError ("ファイル %s を作成できません" with the path) when it cannot be created.
    explicit DocumentWriter(const std::string& path);
    ~DocumentWriter();
    DocumentWriter(const DocumentWriter&) = delete;
    DocumentWriter& operator=(const DocumentWriter&) = delete;

    // One write of all bytes; throws EWriteError ("ストリームへの書き込みエラー") when it falls short.
    void Write(std::string_view bytes);
    // Puts the written bytes in place of the target; throws EWriteError when that fails.
    void Commit();

private:
    struct State;
    State* state_;
};

}  // namespace kestrane::os
