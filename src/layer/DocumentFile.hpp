#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kestrane::os {

// A document file opened for Open: read access, others may read but not write it meanwhile.
class DocumentReader {
public:
    // Throws EFOpenError ("ファイル %s は開けません" with the path) when the file cannot be opened,
    // is not a regular file, or another holder has it for writing.
    explicit DocumentReader(const std::string& path);
    ~DocumentReader();
    DocumentReader(const DocumentReader&) = delete;
    DocumentReader& operator=(const DocumentReader&) = delete;

    // Bytes from the current position to the end, as they stood when the file was opened.
    std::size_t Size() const;
    // One read of Size() bytes; only the bytes actually read are returned. Throws EFOpenError when
    // the read fails, std::bad_alloc when the buffer cannot be had.
    std::string ReadAll();

private:
    std::string path_;
    int fd_ = -1;
    std::size_t size_ = 0;
};

// A document file being saved, through symbolic links to their final target. The text goes to a
// temporary file that Commit puts in place of the target; a target with other hard links is
// rewritten in place instead (by Write, once its space is reserved), so every name sees the text.
// A failure on any path leaves the previous file as it was and no temporary file behind.
class DocumentWriter {
public:
    // Throws EFCreateError ("ファイル %s を作成できません" with the path) when it cannot be created:
    // a bad name or folder, no permission, a read-only target or filesystem, a target that is not a
    // regular file, or one that someone else holds. Keeps the target locked until Commit or destruction.
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
    std::unique_ptr<State> state_;
};

}  // namespace kestrane::os
