// Expected bytes of every message in code page 932, written out byte by byte
// (independent of any conversion routine) so that a wrong text shows.
#pragma once

#include <string>

namespace expected {

// 読み込みｴﾗｰ
inline const std::string kReadError{
    std::initializer_list<char>{'\x93', '\xc7', '\x82', '\xdd', '\x8d', '\x9e', '\x82', '\xdd', '\xb4', '\xd7', '\xb0'}};
// 書き込みｴﾗｰ
inline const std::string kWriteError{
    std::initializer_list<char>{'\x8f', '\x91', '\x82', '\xab', '\x8d', '\x9e', '\x82', '\xdd', '\xb4', '\xd7', '\xb0'}};
// 書庫が壊れています
inline const std::string kArchiveBroken{
    std::initializer_list<char>{'\x8f', '\x91', '\x8c', '\xc9', '\x82', '\xaa', '\x89', '\xf3', '\x82', '\xea', '\x82', '\xc4', '\x82', '\xa2', '\x82', '\xdc', '\x82', '\xb7'}};
// 対応していない圧縮形式です
inline const std::string kUnsupportedMethod{
    std::initializer_list<char>{'\x91', '\xce', '\x89', '\x9e', '\x82', '\xb5', '\x82', '\xc4', '\x82', '\xa2', '\x82', '\xc8', '\x82', '\xa2', '\x88', '\xb3', '\x8f', '\x6b', '\x8c', '\x60', '\x8e', '\xae', '\x82', '\xc5', '\x82', '\xb7'}};
// Valkrin  Ver 2.1.0.0
inline const std::string kTitle{
    std::initializer_list<char>{'\x56', '\x61', '\x6c', '\x6b', '\x72', '\x69', '\x6e', '\x20', '\x20', '\x56', '\x65', '\x72', '\x20', '\x32', '\x2e', '\x31', '\x2e', '\x30', '\x2e', '\x30'}};
// ﾒﾓﾘが足りません
inline const std::string kNoMemory{
    std::initializer_list<char>{'\xd2', '\xd3', '\xd8', '\x82', '\xaa', '\x91', '\xab', '\x82', '\xe8', '\x82', '\xdc', '\x82', '\xb9', '\x82', '\xf1'}};
// %s をｲﾝｽﾄｰﾙしますか?
inline const std::string kConfirm{
    std::initializer_list<char>{'\x25', '\x73', '\x20', '\x82', '\xf0', '\xb2', '\xdd', '\xbd', '\xc4', '\xb0', '\xd9', '\x82', '\xb5', '\x82', '\xdc', '\x82', '\xb7', '\x82', '\xa9', '\x3f'}};
// ｲﾝｽﾄｰﾙｺﾏﾝﾄﾞ/指定ﾌｫﾙﾀﾞの指定がありません
inline const std::string kNoCommand{
    std::initializer_list<char>{'\xb2', '\xdd', '\xbd', '\xc4', '\xb0', '\xd9', '\xba', '\xcf', '\xdd', '\xc4', '\xde', '\x2f', '\x8e', '\x77', '\x92', '\xe8', '\xcc', '\xab', '\xd9', '\xc0', '\xde', '\x82', '\xcc', '\x8e', '\x77', '\x92', '\xe8', '\x82', '\xaa', '\x82', '\xa0', '\x82', '\xe8', '\x82', '\xdc', '\x82', '\xb9', '\x82', '\xf1'}};
// ｲﾝｽﾄｰﾙｺﾏﾝﾄﾞが実行できませんでした
inline const std::string kLaunchFailed{
    std::initializer_list<char>{'\xb2', '\xdd', '\xbd', '\xc4', '\xb0', '\xd9', '\xba', '\xcf', '\xdd', '\xc4', '\xde', '\x82', '\xaa', '\x8e', '\xc0', '\x8d', '\x73', '\x82', '\xc5', '\x82', '\xab', '\x82', '\xdc', '\x82', '\xb9', '\x82', '\xf1', '\x82', '\xc5', '\x82', '\xb5', '\x82', '\xbd'}};
// 終了監視中:
inline const std::string kWatching{
    std::initializer_list<char>{'\x8f', '\x49', '\x97', '\xb9', '\x8a', '\xc4', '\x8e', '\x8b', '\x92', '\x86', '\x3a'}};
// %svalkrin.%03.3d
inline const std::string kTempFolderFormat{
    std::initializer_list<char>{'\x25', '\x73', '\x76', '\x61', '\x6c', '\x6b', '\x72', '\x69', '\x6e', '\x2e', '\x25', '\x30', '\x33', '\x2e', '\x33', '\x64'}};
// このWindowsでは実行できません
inline const std::string kWrongWindows{
    std::initializer_list<char>{'\x82', '\xb1', '\x82', '\xcc', '\x57', '\x69', '\x6e', '\x64', '\x6f', '\x77', '\x73', '\x82', '\xc5', '\x82', '\xcd', '\x8e', '\xc0', '\x8d', '\x73', '\x82', '\xc5', '\x82', '\xab', '\x82', '\xdc', '\x82', '\xb9', '\x82', '\xf1'}};
// ｲﾝｽﾄｰﾙ先: 
inline const std::string kDestination{
    std::initializer_list<char>{'\xb2', '\xdd', '\xbd', '\xc4', '\xb0', '\xd9', '\x90', '\xe6', '\x3a', '\x20'}};
// 解凍中:
inline const std::string kExtracting{
    std::initializer_list<char>{'\x89', '\xf0', '\x93', '\x80', '\x92', '\x86', '\x3a'}};
// 検査中:
inline const std::string kChecking{
    std::initializer_list<char>{'\x8c', '\x9f', '\x8d', '\xb8', '\x92', '\x86', '\x3a'}};

// The English texts, for every UI language but Japanese.
namespace english {
inline const std::string kReadError = "Read error";
inline const std::string kWriteError = "Write error";
inline const std::string kArchiveBroken = "The archive is damaged";
inline const std::string kUnsupportedMethod = "Unsupported compression method";
inline const std::string kConfirm = "Install %s?";
inline const std::string kDestination = "Install to: ";
inline const std::string kWatching = "Waiting:";
inline const std::string kExtracting = "Extracting:";
inline const std::string kChecking = "Checking:";
}  // namespace english

}  // namespace expected
