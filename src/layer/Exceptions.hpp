#pragma once
#include <string>

namespace kestrane {

// The root of every failure the user is shown. The message is a byte string in the code page.
class Exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    virtual ~Exception() = default;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

#define KESTRANE_EXCEPTION(Name, Base)      \
    class Name : public Base {              \
    public:                                 \
        using Base::Base;                   \
    }

// Silent: dropped by HandleException without an error box.
KESTRANE_EXCEPTION(EAbort, Exception);
KESTRANE_EXCEPTION(EOutOfMemory, Exception);
KESTRANE_EXCEPTION(EOutOfResources, EOutOfMemory);
KESTRANE_EXCEPTION(EInvalidOperation, Exception);
KESTRANE_EXCEPTION(EStreamError, Exception);
KESTRANE_EXCEPTION(EFCreateError, EStreamError);
KESTRANE_EXCEPTION(EFOpenError, EStreamError);
KESTRANE_EXCEPTION(EFilerError, EStreamError);
KESTRANE_EXCEPTION(EReadError, EFilerError);
KESTRANE_EXCEPTION(EWriteError, EFilerError);
// Processor faults and foreign exceptions, turned into Exceptions.
KESTRANE_EXCEPTION(EExternal, Exception);
KESTRANE_EXCEPTION(EAccessViolation, EExternal);
KESTRANE_EXCEPTION(EExternalException, EExternal);

#undef KESTRANE_EXCEPTION

// The program's own texts, written in UTF-8 here and converted to the code page where they are used.
namespace Msg {
inline constexpr const char* OutOfMemory = "メモリが不足しています";
inline constexpr const char* NoTimers = "タイマーを取得できません";
inline constexpr const char* FOpenError = "ファイル %s は開けません";
inline constexpr const char* FCreateError = "ファイル %s を作成できません";
inline constexpr const char* WriteError = "ストリームへの書き込みエラー";
inline constexpr const char* MemoTooLarge = "文字列の大きさが メモ の制限を越えました";
inline constexpr const char* ExternalException = "外部例外が発生しました";
}  // namespace Msg

// One of the program's texts in the code page; its "%s" takes `argument`, already code page bytes.
std::string ProgramText(const char* utf8Format, const std::string& argument = {});

}  // namespace kestrane
