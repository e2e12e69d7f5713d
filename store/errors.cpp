#include "store/errors.h"

#include <ostream>

#include "platform/gbk.h"

namespace pennacle {
namespace {

struct ErrorRow {
  DbCode code;
  std::string_view text;
};

// Descending code order, searched from the start.
constexpr ErrorRow kErrorTable[] = {
    {DbCode::Ok, ""},
    {DbCode::Unknown, "未知错误"},
    {DbCode::CreateFailed, "创建数据库失败"},
    {DbCode::NotFound, "指定文件未找到"},
    {DbCode::BadPath, "无效的路径"},
    {DbCode::TooManyFiles, "打开文件过多"},
    {DbCode::AccessDenied, "指定文件不能被访问"},
    {DbCode::BadHandle, "无效的文件号"},
    {DbCode::RemoveCurrentDirectory, "不能删除现行工作目录"},
    {DbCode::TooManyDirectories, "创建目录过多"},
    {DbCode::SeekFailed, "文件指针定位失败"},
    {DbCode::HardwareFault, "访问文件时硬件产生故障"},
    {DbCode::Sharing, "访问文件时产生共享冲突"},
    {DbCode::LockFile, "加锁文件失败"},
    {DbCode::DiskFull, "磁盘空间不够"},
    {DbCode::EndOfFile, "已经到达文件尾"},
    {DbCode::NoFields, "字段数目必须大于 0 "},
    {DbCode::BadFieldType, "无效的字段类型"},
    {DbCode::BadFieldName,
     "无效的字段名称。名称首字符必须为全半角字母或汉字，其他字符必须为全半角字母、全半角数字或汉字。名称长度"
     "必须小于 16 字符"},
    {DbCode::BadFieldSize, "无效的字段尺寸"},
    {DbCode::DuplicateField, "存在重复的字段名称"},
    {DbCode::OpenFailed, "打开指定数据库失败"},
    {DbCode::NotDatabase, "指定文件不是数据库文件"},
    {DbCode::VersionTooHigh, "指定数据库文件版本太高，无法读入，请升级系统软件"},
    {DbCode::BadAlias,
     "无效的别名。别名首字符必须为全半角字母或汉字，其他字符必须为全半角字母、全半角数字或汉字"},
    {DbCode::BeforeFirst, "已经越过数据库的首记录"},
    {DbCode::AfterLast, "已经越过数据库的末记录"},
    {DbCode::NothingOpen, "当前未打开数据库"},
    {DbCode::LockFailed, "加锁失败"},
    {DbCode::UnlockFailed, "解锁失败"},
    {DbCode::IndexOpenFailed, "打开指定索引文件失败"},
    {DbCode::IndexDamaged, "指定文件不是数据库索引文件或已被损坏"},
    {DbCode::IndexVersion, "索引文件的版本与数据库本身不一致"},
    {DbCode::IndexAlreadyOpen, "索引文件已经被打开"},
    {DbCode::TooManyIndexes, "为同一数据库打开索引文件过多"},
    {DbCode::AuxReadFailed, "读入数据库辅助文件失败"},
    {DbCode::AuxVersion, "数据库辅助文件的版本与数据库本身不一致"},
    {DbCode::AuxDamaged, "指定文件不是数据库辅助文件或已被损坏"},
    {DbCode::AlreadyOpen, "指定数据库已经被打开"},
    {DbCode::TooManyIndexFields, "索引所使用的字段太多"},
    {DbCode::FieldNotFound, "未找到指定字段"},
    {DbCode::IndexCreateFailed, "创建数据库索引文件失败"},
    {DbCode::IndexOnChainField, "索引所使用的字段不能为备注或者字节集类型"},
    {DbCode::IndexFieldMissing, "不能找到索引所使用的字段"},
    {DbCode::NoSuchRecord, "指定记录不存在"},
    {DbCode::NoMemory, "分配内存空间失败"},
    {DbCode::FieldReadFailed, "读指定字段失败"},
    {DbCode::FieldWriteFailed, "写指定字段失败"},
    {DbCode::FileSize, "数据库文件尺寸错误"},
    {DbCode::IndexFileSize, "数据库索引文件尺寸错误"},
    {DbCode::AuxCreateFailed, "创建数据库辅助文件失败"},
    {DbCode::IndexAddFailed, "加入索引项目失败"},
    {DbCode::IndexAccessFailed, "访问索引项目失败"},
    {DbCode::IndexFieldWidth, "索引所使用字段的尺寸与数据库内的字段不一致"},
    {DbCode::IndexFieldType, "索引所使用字段的类型与数据库内的字段不一致"},
    {DbCode::OutOfMemory, "内存不足"},
    {DbCode::IndexKeyTooLarge, "索引字段的尺寸过大"},
    {DbCode::LastIndexEntry, "已到最后一个索引项"},
    {DbCode::IndexEntryMissing, "找不到指定记录的索引项"},
    {DbCode::AuxAccess, "访问数据库的辅助文件失败"},
    {DbCode::NoCurrentRecord, "现行记录不存在"},
    {DbCode::NoSuchField, "指定字段不存在"},
    {DbCode::RecordReadFailed, "读记录失败"},
    {DbCode::RecordWriteFailed, "写记录失败"},
    {DbCode::IndexUpdateFailed, "更改索引失败"},
    {DbCode::CountFailed, "取数据库记录数失败"},
    {DbCode::DatabaseNotOpen, "未打开指定数据库"},
    {DbCode::NoCurrentDatabase, "未设置当前数据库"},
    {DbCode::NoSuchIndex, "找不到指定的索引"},
    {DbCode::NoCurrentIndex, "未设置当前索引"},
    {DbCode::BadFieldKind, "字段类型错误"},
    {DbCode::NoFieldOrKind, "未指定字段或者字段类型错误"},
    {DbCode::KindMismatch, "所提供数据的类型与字段类型不匹配"},
    {DbCode::SearchValueCount, "所提供欲查找数据的数目与当前索引的索引字段数不相等"},
    {DbCode::NotExclusive, "数据库的共享打开方式不是“#禁止读写”"},
    {DbCode::ExpressionFailed, "计算表达式出错"},
    {DbCode::ExpressionKind, "表达式类型错误"},
    {DbCode::Password, "未提供数据库访问密码或提供了错误的密码"},
    {DbCode::PasswordUpdateFailed, "修改访问密码时更新数据库数据失败"},
    {DbCode::BadPasswordText, "无效的密码文本"},
};

thread_local DbCode t_last_error = DbCode::Ok;

}  // namespace

std::string_view db_error_text(DbCode code) {
  for (const ErrorRow& row : kErrorTable) {
    if (row.code == code) return row.text;
  }
  return kErrorTable[1].text;
}

DbCode db_code_of(FileCause cause, DbCode generic) {
  switch (cause) {
    case FileCause::None:
    case FileCause::LockUnsupported:
      return DbCode::Ok;
    case FileCause::Generic:
      return generic;
    case FileCause::NotFound:
      return DbCode::NotFound;
    case FileCause::BadPath:
      return DbCode::BadPath;
    case FileCause::TooManyFiles:
      return DbCode::TooManyFiles;
    case FileCause::AccessDenied:
      return DbCode::AccessDenied;
    case FileCause::BadHandle:
      return DbCode::BadHandle;
    case FileCause::RemoveCurrentDir:
      return DbCode::RemoveCurrentDirectory;
    case FileCause::DirectoryFull:
      return DbCode::TooManyDirectories;
    case FileCause::BadSeek:
      return DbCode::SeekFailed;
    case FileCause::HardwareIo:
      return DbCode::HardwareFault;
    case FileCause::SharingViolation:
      return DbCode::Sharing;
    case FileCause::LockViolation:
      return DbCode::LockFile;
    case FileCause::DiskFull:
      return DbCode::DiskFull;
    case FileCause::EndOfFile:
      return DbCode::EndOfFile;
  }
  return generic;
}

std::ostream& operator<<(std::ostream& out, DbCode code) {
  return out << code_number(code) << " (" << gbk_to_utf8_lossy(db_error_text(code)) << ")";
}

DbCode db_last_error() { return t_last_error; }
void set_db_last_error(DbCode code) { t_last_error = code; }

}  // namespace pennacle
