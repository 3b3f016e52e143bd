#pragma once
// JSON values under string ids in named tables of one SQLite file, each with the time of its last
// put. Every statement runs as one block on the store's database queue, so any thread may call.
// Failures are reported by log lines; reads then answer nil, 0 or an empty list, puts false.
//
// At open, a link (of any kind, never followed) or anything else that is no regular file at the
// database's path, a file that is no database, that the engine finds malformed or that fails its
// quick check is renamed "<file>.damaged" ("-2", "-3" ... the first free for it and for every
// companion name beside it; its companion files go along; never deleted), a new database is made
// in its place and every row that still reads from its tables is copied in, with log lines saying
// so and how many rows were lost. The rescue is marked pending ("<name>.pending") until its rows
// are in, and a later open does a pending one again. A missing or empty file, or one that is only
// busy or unreadable now, is opened as it is. A journal (or other companion file of the engine)
// that is no regular file, a link included, is renamed the same way by itself, and the database
// opens as it is.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvstore/NullableString.h"
#include "kvstore/SqDatabaseQueue.h"
#include "kvstore/TnqKeyValueModel.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

namespace kvstore {

class TnqKeyValueStore {
  struct Private {};

 public:
  // A table name is accepted when it is not nil, not empty and holds no blank (and no NUL);
  // otherwise logs "ERROR, table name: %@ format error.".
  static bool checkTableName(NullableString tableName);

  // A store on "database.sqlite" in the Library directory.
  static std::shared_ptr<TnqKeyValueStore> init();
  // A store on the named file in the Library directory.
  static std::shared_ptr<TnqKeyValueStore> initDBWithName(std::string_view dbName);
  // A store on the file at the path.
  static std::shared_ptr<TnqKeyValueStore> initWithDBWithPath(std::string dbPath);
  TnqKeyValueStore(Private, std::string dbPath);
  ~TnqKeyValueStore();
  TnqKeyValueStore(const TnqKeyValueStore&) = delete;
  TnqKeyValueStore& operator=(const TnqKeyValueStore&) = delete;

  void createTableWithName(NullableString tableName);
  bool isTableExists(NullableString tableName);
  void clearTable(NullableString tableName);
  // Closes the queue and drops it: later operations find no database.
  void close();

  // Stores the JSON text of a container (array or dictionary) under the id, renewing its time.
  bool putObject(const pf::Value* object, NullableString objectId, NullableString tableName);
  bool putObject(const pf::Value& object, NullableString objectId, NullableString tableName) {
    return putObject(&object, objectId, tableName);
  }
  std::optional<pf::Value> getObjectById(NullableString objectId, NullableString tableName);
  std::optional<TnqKeyValueModel> getTnqKeyValueModelById(NullableString objectId, NullableString tableName);
  // Stores the value (any JSON value) as a one-element array.
  bool putString(const pf::Value* string, NullableString stringId, NullableString tableName);
  bool putString(const pf::Value& string, NullableString stringId, NullableString tableName) {
    return putString(&string, stringId, tableName);
  }
  // The first element of the stored array, whatever it holds; nil for anything else.
  std::optional<pf::Value> getStringById(NullableString stringId, NullableString tableName);
  bool putNumber(const pf::Value* number, NullableString numberId, NullableString tableName);
  bool putNumber(const pf::Value& number, NullableString numberId, NullableString tableName) {
    return putNumber(&number, numberId, tableName);
  }
  std::optional<pf::Value> getNumberById(NullableString numberId, NullableString tableName);
  // Every item in the table's own order; nil for a rejected table name.
  std::optional<std::vector<TnqKeyValueModel>> getAllItemsFromTable(NullableString tableName);
  std::uint64_t getCountFromTabel(NullableString tableName);
  void deleteObjectById(NullableString objectId, NullableString tableName);
  void deleteObjectsByIdArray(const std::vector<std::string>& objectIds, NullableString tableName);
  // Deletes the ids that start with the prefix: every byte stands for itself ("%", "_" and NUL
  // included), ASCII letters match without regard to case.
  void deleteObjectsByIdPrefix(NullableString objectIdPrefix, NullableString tableName);

  std::shared_ptr<SqDatabaseQueue> dbQueue() const;
  void setDbQueue(std::shared_ptr<SqDatabaseQueue> queue);

  // Called with the number read so far for every row a rescue reads from a damaged file, on the
  // thread that opens the store (tests end a rescue midway through with it). Empty: none.
  static void setRescueReadHookForTesting(std::function<void(std::uint64_t)> hook);

 private:
  // Runs work(SqDatabase*) on the queue; false when there is no queue. The work gets no
  // connection when the queue could not reopen it.
  template <class Work>
  bool inDatabase(Work&& work);
  // Copies every row that still reads from the tables of a damaged database into this one, with
  // its rowid, id, value and time, in one transaction; ids this one holds already keep their
  // value, and a row whose rowid another id holds takes a new one. False when the rows could not
  // be read or stored: the rescue is still to do.
  bool salvage(const std::string& damagedPath);
  bool putJsonText(const std::string& json, NullableString objectId, NullableString tableName);
  // Calls take(std::string_view json, const SqResultSet& row) on the queue while the id's row is
  // current (the text is the engine's, valid for the call); false when there is no row (or the
  // query failed).
  template <class Take>
  bool readItem(NullableString objectId, NullableString tableName, Take&& take);
  std::optional<pf::Value> firstElement(NullableString objectId, NullableString tableName);

  mutable pf::Mutex queueMutex_;
  std::shared_ptr<SqDatabaseQueue> dbQueue_ PF_GUARDED_BY(queueMutex_);
};

}  // namespace kvstore
