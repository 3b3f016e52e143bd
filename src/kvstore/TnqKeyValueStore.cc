#include "kvstore/TnqKeyValueStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <utility>

#include "kvstore/KeyValueJson.h"
#include "kvstore/SqResultSet.h"
#include "kvstore/SqText.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"

namespace kvstore {

namespace {

// Ids bound per statement of a deletion by id list (well below the engine's parameter limit).
constexpr std::size_t kIdsPerStatement = 500;

// The statement text with the table name between head and tail, written as a quoted identifier
// (quotes doubled) so that any accepted name stays one name.
std::string statementText(std::string_view head, NullableString tableName, std::string_view tail = {}) {
  const std::string_view name = tableName.text();
  std::string sql;
  sql.reserve(head.size() + name.size() + 2 + tail.size());
  sql.append(head);
  sqAppendQuoted(sql, name, '"');
  sql.append(tail);
  return sql;
}

// The number of "?" of a list delete for `count` ids: a power of two up to the chunk size, so that
// lists of every length share a few statement texts (and so a few cached statements).
std::size_t placeholderCount(std::size_t count) {
  std::size_t slots = count == 0 ? 0 : 1;
  while (slots < count) slots <<= 1;
  return std::min(slots, kIdsPerStatement);
}

SqValue idValue(NullableString id) { return id ? SqValue::textView(id.text()) : SqValue(); }

std::string libraryPath(std::string_view name) { return (pf::Sandbox::library() / std::string(name)).string(); }

std::string createTableText(NullableString tableName) {
  return statementText("CREATE TABLE IF NOT EXISTS ", tableName,
                       " ( id TEXT NOT NULL, json TEXT NOT NULL, createdTime TEXT NOT NULL, PRIMARY KEY(id)) ");
}

// The files the engine keeps beside a database while it writes.
constexpr const char* kCompanionSuffixes[] = {"-journal", "-wal", "-shm"};

// Set-aside names tried for one file before giving up.
constexpr int kAsideNames = 100;

// What stands at the path, a link itself rather than what it points to; nullopt when nothing does.
std::optional<pf::FileAttributes> itemAt(const std::string& path) { return pf::FileManager::attributesOfItem(path); }

// The first finding of a quick check's report (its "*** in database main ***" heads left out),
// saying how many more it has, so that a log line stays one line.
std::string firstFinding(std::string_view report) {
  std::vector<std::string_view> findings;
  for (std::size_t at = 0; at <= report.size();) {
    const std::size_t end = std::min(report.find('\n', at), report.size());
    const std::string_view line = report.substr(at, end - at);
    if (!line.empty() && !(line.starts_with("*** in database ") && line.ends_with(" ***"))) findings.push_back(line);
    at = end + 1;
  }
  if (findings.empty()) return std::string(report.substr(0, report.find('\n')));
  std::string line(findings.front());
  if (findings.size() == 2) line += " (and 1 more finding)";
  if (findings.size() > 2) line += " (and " + std::to_string(findings.size() - 1) + " more findings)";
  return line;
}

// What is wrong with the database at `path`, or nullopt when nothing is. A link of any kind,
// anything else that is not a regular file, a file the engine refuses as no database or as
// malformed, and one that fails its quick check are damaged. A missing file is not, nor an empty
// one without companions (the engine makes a new database of it), nor one that cannot be looked
// at now (busy, no permission, a failing disk): that says nothing about the file.
std::optional<std::string> damageOf(const std::string& path) {
  const auto item = itemAt(path);
  if (!item) return std::nullopt;
  if (item->type == pf::FileType::SymbolicLink) return "a symbolic link";
  if (item->type != pf::FileType::Regular) return "not a regular file";
  if (item->size == 0) {
    bool companions = false;
    for (const char* suffix : kCompanionSuffixes) companions = companions || itemAt(path + suffix);
    if (!companions) {
      pf::logLine("database " + path + " is an empty file: a new database is made in it");
      return std::nullopt;
    }
  }
  auto db = SqDatabase::databaseWithPath(path);
  db->setMaxBusyRetryTimeInterval(0);  // another connection's lock is no damage: no wait
  if (!db->openWithFlags(SQLITE_OPEN_READWRITE)) return std::nullopt;
  db->setLogsErrors(false);
  const auto verdict = db->stringForQuery("PRAGMA quick_check");
  const int code = db->lastErrorCode() & 0xff;
  const std::string message = db->lastErrorMessage();
  db->close();
  if (verdict)
    return *verdict == "ok" ? std::nullopt : std::optional<std::string>("quick check: " + firstFinding(*verdict));
  if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) return message;
  return std::nullopt;
}

std::string asideName(const std::string& path, int n) {
  return path + ".damaged" + (n > 1 ? "-" + std::to_string(n) : "");
}

// The name of the mark that says a rescue of the set-aside file `aside` has not finished: an
// empty file beside it, made before the file is moved and removed once its rows are in.
std::string pendingMark(const std::string& aside) { return aside + ".pending"; }

std::filesystem::path folderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

// Removes a pending mark (an empty regular file; anything else at its name is not ours) durably.
void removePendingMark(const std::string& mark) {
  const auto item = itemAt(mark);
  if (!item || item->type != pf::FileType::Regular || item->size != 0) return;
  if (pf::FileManager::removeItem(mark)) pf::FileManager::syncFolder(folderOf(mark));
}

// Renames what stands at `path` (a link as the link) to the first of "<path>.damaged",
// "<path>.damaged-2", ... that is free for it and, with `withCompanions`, for every companion name
// beside it: its companions go along under that name, so the engine finds them together, and
// meets no one else's there. Nothing is removed. Each move is a log line ("<why> set aside as
// <name>"). With `pending`, the rescue of the file is marked pending (durably) before the file
// moves, so that a start that ends at any moment after the move finds it and rescues again. The
// new name, or nullopt when the item could not be moved (a log line says why).
std::optional<std::string> setAside(const std::string& path, bool withCompanions, const std::string& why,
                                    bool pending = false) {
  for (int n = 1; n <= kAsideNames; ++n) {
    const std::string aside = asideName(path, n);
    if (withCompanions &&
        std::ranges::any_of(kCompanionSuffixes, [&](const char* suffix) { return itemAt(aside + suffix).has_value(); }))
      continue;
    pf::Error error;
    if (pending) {
      if (!pf::FileManager::createFileIfAbsent(pendingMark(aside), &error)) {
        if (error.code == pf::kFileWriteFileExistsError) continue;
        pf::logLine("ERROR, " + path + " could not be set aside: " + error.localizedDescription());
        return std::nullopt;
      }
      pf::FileManager::syncFolder(folderOf(path));
    }
    if (!pf::FileManager::moveItem(path, aside, &error)) {
      if (pending) removePendingMark(pendingMark(aside));
      if (error.code == pf::kFileWriteFileExistsError) continue;
      pf::logLine("ERROR, " + path + " could not be set aside: " + error.localizedDescription());
      return std::nullopt;
    }
    if (pending) pf::FileManager::syncFolder(folderOf(path));  // moved before a new database takes the name
    pf::logLine(why + " set aside as " + aside);
    for (const char* suffix : withCompanions ? std::span(kCompanionSuffixes) : std::span<const char* const>()) {
      const std::string companion = path + suffix;
      if (!itemAt(companion)) continue;
      pf::Error moveError;
      if (pf::FileManager::moveItem(companion, aside + suffix, &moveError)) {
        pf::logLine(companion + " set aside as " + aside + suffix);
      } else if (moveError.code == pf::kFileWriteFileExistsError) {
        setAside(companion, false, companion);  // taken since it was looked at: a name of its own
      } else {
        pf::logLine("ERROR, " + companion + " could not be set aside: " + moveError.localizedDescription());
      }
    }
    return aside;
  }
  pf::logLine("ERROR, " + path + " could not be set aside: every name up to " + asideName(path, kAsideNames) +
              " is taken");
  return std::nullopt;
}

// The set-aside files of the database at `path` whose rescue is marked pending, oldest name first.
// A mark whose file is gone (the start that made it ended before the move) is removed.
std::vector<std::string> pendingRescues(const std::string& path) {
  std::vector<std::string> pending;
  for (int n = 1; n <= kAsideNames; ++n) {
    const std::string aside = asideName(path, n);
    if (!itemAt(pendingMark(aside))) continue;
    if (itemAt(aside)) pending.push_back(aside);
    else removePendingMark(pendingMark(aside));
  }
  return pending;
}

// A statement prepared by hand. The rescue steps its statements itself: on a damaged file
// failures are expected, and are counted rather than logged one by one.
struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using RawStatement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

RawStatement prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return RawStatement(statement);
}

// Called for every row a rescue reads from a damaged file, with the number read so far.
std::function<void(std::uint64_t)>& rescueReadHook() {
  static std::function<void(std::uint64_t)> hook;
  return hook;
}

// The names a query of the damaged file's schema gives, up to the first that does not read and
// at most `limit` (a schema whose pages loop would give them again and again).
std::vector<std::string> namesFrom(sqlite3_stmt* query, std::uint64_t limit) {
  std::vector<std::string> names;
  while (query && names.size() < limit && sqlite3_step(query) == SQLITE_ROW)
    if (const auto* name = sqlite3_column_text(query, 0))
      names.emplace_back(reinterpret_cast<const char*>(name), static_cast<std::size_t>(sqlite3_column_bytes(query, 0)));
  return names;
}

// How far `to` lies past `from` (to >= from), which may exceed the largest rowid.
std::uint64_t distance(std::int64_t from, std::int64_t to) {
  return static_cast<std::uint64_t>(to) - static_cast<std::uint64_t>(from);
}

// `from` moved on by `by`, stopping at the largest rowid.
std::int64_t advance(std::int64_t from, std::uint64_t by) {
  return by >= distance(from, INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(static_cast<std::uint64_t>(from) + by);
}

// Copies the rows of a damaged database's tables into the new database, table by table. A table
// is walked in rowid order; where the walk breaks off, the first rowid past the broken pages whose
// seek reads again is looked for (doubling the distance, then halving back to the edge) and the
// walk goes on from there, so one broken page costs only its own rows. Each step over broken pages
// or past one row consumes a key the file holds, so a hostile file ends the walk as surely as a
// sound one. Rows in a stretch that was stepped over are then looked up by the rowids that an
// index of the table still names: those that read are copied, the others counted lost. Walks that
// consume no key (a table without rowids, an index) read no more rows than the file has cells.
// Each row is counted once: copied, or lost when it does not read or cannot be stored; a row whose
// id the new database already holds (met again through pages that loop, an id the file repeats, or
// one the store wrote while the rescue was still to do) is not counted. Rows keep their rowid, so
// the table keeps its order; one whose rowid another id took goes after the table's last row (to a
// free rowid the engine chooses at random once the table holds the largest one).
class Rescue {
 public:
  // `maxCells`: more cells than the damaged file can hold.
  Rescue(sqlite3* from, sqlite3* to, std::uint64_t maxCells) : from_(from), to_(to), maxCells_(maxCells) {}

  void copyTable(const std::string& table) {
    insert_ = prepare(to_, statementText("INSERT INTO ", table,
                                         " (rowid,id,json,createdTime) VALUES (?,?,?,?) ON CONFLICT DO NOTHING"));
    insertAnew_ = prepare(to_, statementText("INSERT INTO ", table,
                                             " (id,json,createdTime) VALUES (?,?,?) ON CONFLICT DO NOTHING"));
    if (const auto rowid = rowidName(table)) {
      const std::string& r = *rowid;
      rows_ = prepare(from_, statementText("SELECT " + r + ",id,json,createdTime FROM ", table,
                                           " WHERE " + r + " >= ? ORDER BY " + r));
      keys_ = prepare(from_, statementText("SELECT " + r + " FROM ", table,
                                           " WHERE " + r + " >= ? ORDER BY " + r + " LIMIT 1"));
      one_ = prepare(from_, statementText("SELECT " + r + ",id,json,createdTime FROM ", table, " WHERE " + r + " = ?"));
      entries_ = statementText("SELECT " + r + " FROM ", table, " INDEXED BY ");
    }
    skipped_.clear();
    if (!insert_) {
      // Nothing can be stored.
    } else if (rows_ && keys_ && one_) {
      walk();
      if (!skipped_.empty()) lookUpSkipped(table);
    } else if (keyedById(table)) {
      walkById(table);
    } else if ((rows_ = prepare(from_, statementText("SELECT NULL,id,json,createdTime FROM ", table)))) {
      // A table without rowids keyed otherwise: read through as far as it goes, and no further
      // than the file's cells (pages that point at each other would give the same rows without end).
      int rc = SQLITE_ROW;
      std::uint64_t steps = 0;
      while (++steps <= maxCells_ && (rc = sqlite3_step(rows_.get())) == SQLITE_ROW) {
        read();
        copyRow(rows_.get());
      }
      if (rc != SQLITE_DONE) ++uncounted;
    }
    insert_.reset();
    insertAnew_.reset();
    rows_.reset();
    keys_.reset();
    one_.reset();
  }

  // The name that reaches the table's rowid: the first of the engine's three that no column of
  // the table takes for itself; none for a table without rowids or whose columns take all three.
  std::optional<std::string> rowidName(const std::string& table) {
    auto columns = prepare(from_, "SELECT lower(name) FROM pragma_table_info(?)");
    if (!columns) return std::nullopt;
    sqlite3_bind_text(columns.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    const auto taken = namesFrom(columns.get(), maxCells_);
    for (const char* name : {"rowid", "_rowid_", "oid"})
      if (std::ranges::find(taken, name) == taken.end()) return name;
    return std::nullopt;
  }

  // Whether the table has no rowids and its key is the column id alone, in byte order.
  bool keyedById(const std::string& table) {
    auto query = prepare(from_,
                         "SELECT count(*) = 1 AND max(lower(name)) = 'id' AND max(coll) = 'BINARY' AND max(desc) = 0 "
                         "FROM pragma_index_xinfo((SELECT name FROM pragma_index_list(?) WHERE origin = 'pk')) "
                         "WHERE key");
    if (!query) return false;
    sqlite3_bind_text(query.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    return sqlite3_step(query.get()) == SQLITE_ROW && sqlite3_column_int(query.get(), 0) == 1;
  }

  std::uint64_t copied = 0;
  std::uint64_t lost = 0;
  std::uint64_t renumbered = 0;  // of those copied, the rows stored under a new rowid
  std::uint64_t uncounted = 0;  // stretches stepped over or walks cut short whose rows were not counted

 private:
  struct Seek {
    bool reads = false;
    std::optional<std::int64_t> rowid;  // the first at or after the place sought; none past the last
  };
  struct Stretch {
    std::int64_t first, last;
  };

  void walk() {
    std::optional<std::int64_t> start = INT64_MIN;
    while (start) {
      sqlite3_bind_int64(rows_.get(), 1, *start);
      std::optional<std::int64_t> last;
      int rc = SQLITE_ROW;
      while ((rc = sqlite3_step(rows_.get())) == SQLITE_ROW) {
        read();
        const std::int64_t rowid = sqlite3_column_int64(rows_.get(), 0);
        if (rowid < *start || (last && rowid <= *last)) {  // keys out of order: the tree is broken here
          rc = SQLITE_CORRUPT;
          break;
        }
        last = rowid;
        copyRow(rows_.get());
      }
      sqlite3_reset(rows_.get());
      if (rc == SQLITE_DONE) return;
      start = last ? after(*last) : start;
      if (start) start = stepOver(*start);
    }
  }

  using Key = std::unique_ptr<sqlite3_value, decltype(&sqlite3_value_free)>;

  // A table without rowids keyed by id, walked in key order as the rowid walk is: where the walk
  // meets a key out of order (pages that point at each other, a page two parents share) it goes
  // on from the first key past the greatest read, so the rows after a loop still come back. Where
  // it cannot go on (a page on the way does not read), the table is walked again from its other
  // end down to the greatest key read, so a broken stretch costs only the rows inside it.
  void walkById(const std::string& table) {
    auto statement = [&](std::string_view tail) {
      return prepare(from_, statementText("SELECT NULL,id,json,createdTime FROM ", table, tail));
    };
    std::uint64_t steps = 0;
    Key forward(nullptr, sqlite3_value_free);
    auto first = statement(" ORDER BY id");
    auto next = statement(" WHERE id > ?1 ORDER BY id");
    if (first && next && walkKeys(first.get(), next.get(), 1, forward, nullptr, steps)) return;
    ++uncounted;
    Key backward(nullptr, sqlite3_value_free);
    first = statement(forward ? " WHERE id > ?2 ORDER BY id DESC" : " ORDER BY id DESC");
    next = statement(forward ? " WHERE id < ?1 AND id > ?2 ORDER BY id DESC" : " WHERE id < ?1 ORDER BY id DESC");
    if (first && next) walkKeys(first.get(), next.get(), -1, backward, forward.get(), steps);
  }

  // The passes of a walk by key in one direction (1 ascending, -1 descending): `first` from the
  // end the direction starts at, `next` from past `last` (its ?1); both stop short of `stop` (?2)
  // when there is one. Each pass reads at least one key past every key before it, or the walk ends
  // there; and no walk reads more rows than the file has cells. True when the walk reached its
  // end; `last` is the last key it read.
  bool walkKeys(sqlite3_stmt* first, sqlite3_stmt* next, int direction, Key& last, sqlite3_value* stop,
                std::uint64_t& steps) {
    for (sqlite3_stmt* pass = first;; pass = next) {
      if (pass == next) sqlite3_bind_value(pass, 1, last.get());
      if (stop) sqlite3_bind_value(pass, 2, stop);
      bool moved = false;
      int rc = SQLITE_ROW;
      while (++steps <= maxCells_ && (rc = sqlite3_step(pass)) == SQLITE_ROW) {
        read();
        sqlite3_value* key = sqlite3_column_value(pass, 1);
        if (last && compareKeys(key, last.get()) * direction <= 0) {
          rc = SQLITE_CORRUPT;
          break;
        }
        last.reset(sqlite3_value_dup(key));
        if (!last) break;  // out of memory: no key to go on from
        moved = true;
        copyRow(pass);
      }
      sqlite3_reset(pass);
      if (rc == SQLITE_DONE) return true;
      if (!moved || !last || steps > maxCells_) return false;
    }
  }

  // Two keys in the engine's order without a collation: nothing, numbers, texts, then bytes.
  static int compareKeys(sqlite3_value* a, sqlite3_value* b) {
    auto rank = [](sqlite3_value* value) {
      switch (sqlite3_value_type(value)) {
        case SQLITE_NULL: return 0;
        case SQLITE_INTEGER:
        case SQLITE_FLOAT: return 1;
        case SQLITE_TEXT: return 2;
        default: return 3;
      }
    };
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    if (ra == 0) return 0;
    if (ra == 1) {
      if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
        const std::int64_t x = sqlite3_value_int64(a), y = sqlite3_value_int64(b);
        return x < y ? -1 : x > y ? 1 : 0;
      }
      const double x = sqlite3_value_double(a), y = sqlite3_value_double(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    const void* x = ra == 2 ? static_cast<const void*>(sqlite3_value_text(a)) : sqlite3_value_blob(a);
    const void* y = ra == 2 ? static_cast<const void*>(sqlite3_value_text(b)) : sqlite3_value_blob(b);
    const auto xn = static_cast<std::size_t>(sqlite3_value_bytes(a));
    const auto yn = static_cast<std::size_t>(sqlite3_value_bytes(b));
    const int order = std::min(xn, yn) == 0 ? 0 : std::memcmp(x, y, std::min(xn, yn));
    if (order != 0) return order;
    return xn < yn ? -1 : xn > yn ? 1 : 0;
  }

  // Where the walk goes on once it broke off before `from`.
  std::optional<std::int64_t> stepOver(std::int64_t from) {
    Seek found = seek(from);
    if (found.reads) {
      // The seek reads: the next row is taken alone, and counted lost when it does not read. The
      // seek may have landed past rows the broken walk did not reach (a parent that points at
      // another page): what lies before the row found is looked up by the indexes.
      if (!found.rowid) {
        skipped_.push_back({from, INT64_MAX});
        return std::nullopt;
      }
      if (*found.rowid > from) skipped_.push_back({from, *found.rowid - 1});
      copyOne(*found.rowid);
      return after(*found.rowid);
    }
    std::int64_t broken = from;
    std::int64_t sound = from;
    for (std::uint64_t step = 1;; step = step > UINT64_MAX / 2 ? UINT64_MAX : step * 2) {
      const std::int64_t at = advance(from, step);
      found = seek(at);
      if (found.reads) {
        sound = at;
        break;
      }
      broken = at;
      if (at == INT64_MAX) {
        skipped_.push_back({from, INT64_MAX});
        return std::nullopt;
      }
    }
    while (distance(broken, sound) > 1) {
      const std::int64_t middle = advance(broken, distance(broken, sound) / 2);
      Seek probe = seek(middle);
      if (probe.reads) {
        sound = middle;
        found = probe;
      } else {
        broken = middle;
      }
    }
    skipped_.push_back({from, sound - 1});
    return found.rowid ? std::optional<std::int64_t>(sound) : std::nullopt;
  }

  Seek seek(std::int64_t at) {
    sqlite3_bind_int64(keys_.get(), 1, at);
    const int rc = sqlite3_step(keys_.get());
    Seek result;
    result.reads = rc == SQLITE_ROW || rc == SQLITE_DONE;
    if (rc == SQLITE_ROW) result.rowid = sqlite3_column_int64(keys_.get(), 0);
    sqlite3_reset(keys_.get());
    if (result.rowid && *result.rowid < at) return {};  // keys out of order
    return result;
  }

  // The row of a rowid the file holds (a seek found it, an index names it), alone: copied, or
  // counted lost when it does not read, also when the lookup lands on a page without it.
  void copyOne(std::int64_t rowid) {
    sqlite3_bind_int64(one_.get(), 1, rowid);
    if (sqlite3_step(one_.get()) == SQLITE_ROW) {
      read();
      copyRow(one_.get());
    } else {
      ++lost;
    }
    sqlite3_reset(one_.get());
  }

  // Copies the row a statement stands on (rowid, id, json, createdTime) with its values as they
  // are: counted copied, lost when the new database refuses it (a missing value), neither when it
  // holds the row's id already (its own value stays). A row whose rowid another id holds (one the
  // store took while this rescue was still to do) is stored under the next rowid the engine gives.
  void copyRow(sqlite3_stmt* row) {
    int rc = store(insert_.get(), row, 0);
    if (rc == SQLITE_DONE && sqlite3_changes(to_) == 0 && insertAnew_ && sqlite3_column_type(row, 0) != SQLITE_NULL) {
      rc = store(insertAnew_.get(), row, 1);
      if (rc == SQLITE_DONE && sqlite3_changes(to_) > 0) ++renumbered;
    }
    if (rc != SQLITE_DONE) ++lost;
    else if (sqlite3_changes(to_) > 0) ++copied;
  }

  // Runs an insert with the row's columns from `first` on; its result code.
  static int store(sqlite3_stmt* insert, sqlite3_stmt* row, int first) {
    for (int column = first; column < 4; ++column)
      sqlite3_bind_value(insert, column - first + 1, sqlite3_column_value(row, column));
    const int rc = sqlite3_step(insert);
    sqlite3_reset(insert);
    return rc;
  }

  void read() {
    ++reads_;
    if (const auto& hook = rescueReadHook()) hook(reads_);
  }

  // The rowids an index names inside the stretches stepped over, each looked up alone. An index
  // that reads to its end names every row, so nothing is left uncounted.
  void lookUpSkipped(const std::string& table) {
    auto indexes = prepare(from_, "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ?");
    if (indexes) sqlite3_bind_text(indexes.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    std::set<std::int64_t> named;
    bool complete = false;
    std::uint64_t steps = 0;
    for (const std::string& index : namesFrom(indexes.get(), maxCells_)) {
      std::string sql = entries_;
      sqAppendQuoted(sql, index, '"');
      auto entries = prepare(from_, sql);
      if (!entries) continue;
      int rc = SQLITE_ROW;
      // A page that two parents share would have an index read it again and again: no index is
      // read for more entries than the file can hold.
      while (++steps <= maxCells_ && (rc = sqlite3_step(entries.get())) == SQLITE_ROW) {
        const std::int64_t rowid = sqlite3_column_int64(entries.get(), 0);
        if (inSkipped(rowid) && named.insert(rowid).second) copyOne(rowid);
      }
      if (rc == SQLITE_DONE) {
        complete = true;
        break;
      }
    }
    if (!complete) uncounted += skipped_.size();
  }

  bool inSkipped(std::int64_t rowid) const {
    auto next = std::upper_bound(skipped_.begin(), skipped_.end(), rowid,
                                 [](std::int64_t key, const Stretch& stretch) { return key < stretch.first; });
    return next != skipped_.begin() && rowid <= std::prev(next)->last;
  }

  static std::optional<std::int64_t> after(std::int64_t rowid) {
    return rowid == INT64_MAX ? std::nullopt : std::optional<std::int64_t>(rowid + 1);
  }

  sqlite3* from_;
  sqlite3* to_;
  std::uint64_t maxCells_;
  std::uint64_t reads_ = 0;
  RawStatement insert_, rows_, keys_, one_;
  RawStatement insertAnew_;  // the row without its rowid
  std::string entries_;  // the head of a read of an index's rowids
  std::vector<Stretch> skipped_;  // in rowid order
};

}  // namespace

bool TnqKeyValueStore::checkTableName(NullableString tableName) {
  const std::string_view name = tableName.text();
  if (tableName.isNil() || name.empty() || name.find(' ') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
    pf::logLine("ERROR, table name: " + tableName.description() + " format error.");
    return false;
  }
  return true;
}

std::shared_ptr<TnqKeyValueStore> TnqKeyValueStore::init() { return initDBWithName("database.sqlite"); }

std::shared_ptr<TnqKeyValueStore> TnqKeyValueStore::initDBWithName(std::string_view dbName) {
  return std::make_shared<TnqKeyValueStore>(Private{}, libraryPath(dbName));
}

std::shared_ptr<TnqKeyValueStore> TnqKeyValueStore::initWithDBWithPath(std::string dbPath) {
  return std::make_shared<TnqKeyValueStore>(Private{}, std::move(dbPath));
}

TnqKeyValueStore::TnqKeyValueStore(Private, std::string dbPath) {
  pf::logLine("dbPATH = " + dbPath);
  // A companion that is no regular file (a link of any kind, a FIFO, a folder) holds nothing of the
  // database, and the engine would write through it, block on it or fail: it is kept under another
  // name and the database opens as it is.
  for (const char* suffix : kCompanionSuffixes) {
    const std::string companion = dbPath + suffix;
    const auto item = itemAt(companion);
    if (!item || item->type == pf::FileType::Regular) continue;
    setAside(companion, false, companion + " is not a regular file:");
  }
  // A rescue that an earlier start began and did not finish is done again, from its set-aside file.
  std::vector<std::string> rescues = pendingRescues(dbPath);
  for (const std::string& aside : rescues)
    pf::logLine("database " + aside + ": an earlier rescue did not finish, its rows are read again");
  // A damaged file is kept under another name and a new database takes its place, with every row
  // that still reads.
  if (auto damage = damageOf(dbPath))
    if (auto aside = setAside(dbPath, true, "database " + dbPath + " is damaged (" + *damage + "):", true))
      rescues.push_back(std::move(*aside));
  dbQueue_ = SqDatabaseQueue::databaseQueueWithPath(std::move(dbPath));
  if (!dbQueue_) return;
  for (const std::string& aside : rescues)
    if (salvage(aside)) removePendingMark(pendingMark(aside));
}

void TnqKeyValueStore::setRescueReadHookForTesting(std::function<void(std::uint64_t)> hook) {
  rescueReadHook() = std::move(hook);
}

bool TnqKeyValueStore::salvage(const std::string& damagedPath) {
  // Only a regular file is opened: a FIFO would block, and a link is not followed.
  const auto item = itemAt(damagedPath);
  if (!item || item->type != pf::FileType::Regular) return true;
  // The folders on the way are read through whatever links lead to them (a home on another disk);
  // the file's own name never is. The engine opens the file under its folder's resolved path,
  // refusing a link in any part of it, and opens it without following a final link, so a file
  // swapped for a link since it was looked at is refused, never read.
  std::error_code error;
  const auto folder = std::filesystem::canonical(folderOf(damagedPath), error);
  if (error) {
    pf::logLine("ERROR, database " + damagedPath + " could not be read: " + error.message());
    return false;
  }
  auto damaged = SqDatabase::databaseWithPath((folder / std::filesystem::path(damagedPath).filename()).string());
  if (!damaged->openWithFlags(SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW)) return false;
  damaged->setLogsErrors(false);
  // Pages are read as far as the file goes, also when it is shorter than its header says (the
  // connection reads only). A value the file stores is no longer than the file: the schema of a
  // hostile one gets no room to compute larger ones.
  sqlite3* handle = damaged->sqliteHandle();
  sqlite3_exec(handle, "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
  sqlite3_limit(handle, SQLITE_LIMIT_LENGTH,
                static_cast<int>(std::min<std::uint64_t>(std::max<std::uint64_t>(item->size, 1 << 20), INT32_MAX)));
  // The cells the file can hold: each page has a header of at least 8 bytes, each cell takes at
  // least 4 bytes and its 2-byte pointer.
  const std::uint64_t pageSize = std::clamp<std::uint64_t>(
      static_cast<std::uint64_t>(std::max<std::int64_t>(damaged->longForQuery("PRAGMA page_size"), 0)), 512, 65536);
  const std::uint64_t maxCells = std::max<std::uint64_t>(item->size / pageSize, 1) * ((pageSize - 8) / 6);
  std::vector<std::string> tables;
  {
    auto query = prepare(handle, "SELECT name FROM sqlite_master WHERE type = 'table'");
    for (std::string& name : namesFrom(query.get(), maxCells))
      if (!name.starts_with("sqlite_") && name.find_first_of(std::string(" \0", 2)) == std::string::npos)
        tables.push_back(std::move(name));
  }
  std::uint64_t copied = 0, lost = 0, renumbered = 0, uncounted = 0;
  bool finished = false;
  inDatabase([&](SqDatabase* db) {
    if (!db || !db->beginTransaction()) return;
    Rescue rescue(handle, db->sqliteHandle(), maxCells);
    for (const auto& table : tables)
      if (db->executeUpdate(createTableText(table))) rescue.copyTable(table);
    finished = db->commit();
    if (!finished) db->rollback();
    copied = rescue.copied;
    lost = rescue.lost;
    renumbered = rescue.renumbered;
    uncounted = rescue.uncounted;
  });
  damaged->close();
  if (!finished) {
    pf::logLine("ERROR, database " + damagedPath +
                ": its rows could not be stored; they are read again at the next start");
    return false;
  }
  std::string line = "database " + damagedPath + ": " + std::to_string(copied) + " rows of " +
                     std::to_string(tables.size()) + " tables read back into the new database, " +
                     std::to_string(lost) + " rows lost";
  if (renumbered > 0) line += ", " + std::to_string(renumbered) + " rows stored under a new rowid";
  if (uncounted > 0) line += ", rows in " + std::to_string(uncounted) + " unreadable stretches not counted";
  pf::logLine(line);
  return true;
}

TnqKeyValueStore::~TnqKeyValueStore() { close(); }

std::shared_ptr<SqDatabaseQueue> TnqKeyValueStore::dbQueue() const {
  pf::MutexLock lock(queueMutex_);
  return dbQueue_;
}

void TnqKeyValueStore::setDbQueue(std::shared_ptr<SqDatabaseQueue> queue) {
  pf::MutexLock lock(queueMutex_);
  dbQueue_ = std::move(queue);
}

template <class Work>
bool TnqKeyValueStore::inDatabase(Work&& work) {
  auto queue = dbQueue();
  if (!queue) return false;
  queue->inDatabase([&](SqDatabase* db) {
    // The store runs a handful of fixed statements per table: keep them prepared. A connection
    // the queue reopened starts without a cache, so this is asked on every block.
    if (db && !db->shouldCacheStatements()) db->setShouldCacheStatements(true);
    work(db);
  });
  return true;
}

void TnqKeyValueStore::close() {
  std::shared_ptr<SqDatabaseQueue> queue;
  {
    pf::MutexLock lock(queueMutex_);
    queue = std::move(dbQueue_);
    dbQueue_.reset();
  }
  if (queue) queue->close();
}

// ---------------------------------------------------------------------------------------------
// Tables

void TnqKeyValueStore::createTableWithName(NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = createTableText(tableName);
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql); });
  if (!ok) pf::logLine("ERROR, failed to create table: " + tableName.description());
}

bool TnqKeyValueStore::isTableExists(NullableString tableName) {
  if (!checkTableName(tableName)) return false;
  bool exists = false;
  inDatabase([&](SqDatabase* db) { exists = db && db->tableExists(tableName.text()); });
  if (!exists) pf::logLine("ERROR, table: " + tableName.description() + " not exists in current DB");
  return exists;
}

void TnqKeyValueStore::clearTable(NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = statementText("DELETE from ", tableName);
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql); });
  if (!ok) pf::logLine("ERROR, failed to clear table: " + tableName.description());
}

// ---------------------------------------------------------------------------------------------
// Puts

bool TnqKeyValueStore::putJsonText(const std::string& json, NullableString objectId, NullableString tableName) {
  const double now = pf::Clock::now();
  const std::string sql = statementText("REPLACE INTO ", tableName, "(id,json,createdTime) values (?,?,?)");
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql, idValue(objectId), json, SqValue::date(now)); });
  if (!ok) pf::logLine("ERROR, failed to insert/replace into table: " + tableName.description());
  return ok;
}

bool TnqKeyValueStore::putObject(const pf::Value* object, NullableString objectId, NullableString tableName) {
  if (!checkTableName(tableName)) return false;
  std::optional<std::string> json = object ? encodeJsonContainer(*object) : std::nullopt;
  if (!json) {
    pf::logLine("ERROR, faild to get json data");
    return false;
  }
  return putJsonText(*json, objectId, tableName);
}

bool TnqKeyValueStore::putString(const pf::Value* string, NullableString stringId, NullableString tableName) {
  if (!string) {
    pf::logLine("error, string is nil");
    return false;
  }
  if (!checkTableName(tableName)) return false;
  std::optional<std::string> json = encodeJsonArrayOf(*string);
  if (!json) {
    pf::logLine("ERROR, faild to get json data");
    return false;
  }
  return putJsonText(*json, stringId, tableName);
}

bool TnqKeyValueStore::putNumber(const pf::Value* number, NullableString numberId, NullableString tableName) {
  if (!number) {
    pf::logLine("error,number is nil");
    return false;
  }
  if (!checkTableName(tableName)) return false;
  std::optional<std::string> json = encodeJsonArrayOf(*number);
  if (!json) {
    pf::logLine("ERROR, faild to get json data");
    return false;
  }
  return putJsonText(*json, numberId, tableName);
}

// ---------------------------------------------------------------------------------------------
// Reads

template <class Take>
bool TnqKeyValueStore::readItem(NullableString objectId, NullableString tableName, Take&& take) {
  const std::string sql = statementText("SELECT json,createdTime from ", tableName, " where id = ? limit 1");
  bool found = false;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    auto rs = db->executeQuery(sql, idValue(objectId));
    if (!rs) return;
    // The columns by their place in the statement's own select list: no name lookup per read.
    if (rs->next()) {
      if (auto text = rs->textNoCopyForColumnIndex(0)) {
        take(*text, std::as_const(*rs));
        found = true;
      }
    }
    rs->close();
  });
  return found;
}

std::optional<TnqKeyValueModel> TnqKeyValueStore::getTnqKeyValueModelById(NullableString objectId,
                                                                         NullableString tableName) {
  if (!checkTableName(tableName)) return std::nullopt;
  std::string json;
  std::optional<double> date;
  const bool found = readItem(objectId, tableName, [&](std::string_view text, const SqResultSet& row) {
    json.assign(text);
    date = row.dateForColumnIndex(1);
  });
  if (!found) return std::nullopt;
  auto value = decodeJson(json);
  if (!value) {
    pf::logLine("ERROR, faild to prase to json");
    return std::nullopt;
  }
  TnqKeyValueModel model;
  if (objectId) model.modelId = std::string(objectId.text());
  model.modelObject = std::move(*value);
  model.createdDate = date;
  return model;
}

std::optional<pf::Value> TnqKeyValueStore::getObjectById(NullableString objectId, NullableString tableName) {
  auto model = getTnqKeyValueModelById(objectId, tableName);
  if (!model) return std::nullopt;
  return std::move(model->modelObject);
}

std::optional<pf::Value> TnqKeyValueStore::firstElement(NullableString objectId, NullableString tableName) {
  if (!checkTableName(tableName)) return std::nullopt;
  // A plain ["..."] is copied without its brackets and quotes and needs no parser; anything else
  // is copied whole and parsed after the queue is free again.
  std::string text;
  bool plain = false;
  const bool found = readItem(objectId, tableName, [&](std::string_view json, const SqResultSet&) {
    auto inner = plainStringElement(json);
    plain = inner.has_value();
    text.assign(plain ? *inner : json);
  });
  if (!found) return std::nullopt;
  if (plain) return pf::Value(std::move(text));
  auto value = decodeJson(text);
  if (!value) {
    pf::logLine("ERROR, faild to prase to json");
    return std::nullopt;
  }
  if (!value->is_array() || value->empty()) return std::nullopt;
  return std::move((*value)[0]);
}

std::optional<pf::Value> TnqKeyValueStore::getStringById(NullableString stringId, NullableString tableName) {
  return firstElement(stringId, tableName);
}

std::optional<pf::Value> TnqKeyValueStore::getNumberById(NullableString numberId, NullableString tableName) {
  return firstElement(numberId, tableName);
}

std::optional<std::vector<TnqKeyValueModel>> TnqKeyValueStore::getAllItemsFromTable(NullableString tableName) {
  if (!checkTableName(tableName)) return std::nullopt;
  const std::string sql = statementText("SELECT * from ", tableName);
  std::vector<TnqKeyValueModel> items;
  std::vector<std::optional<std::string>> texts;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    auto rs = db->executeQuery(sql);
    if (!rs) return;
    while (rs->next()) {
      TnqKeyValueModel model;
      model.modelId = rs->stringForColumn("id");
      texts.push_back(rs->stringForColumn("json"));
      model.createdDate = rs->dateForColumn("createdTime");
      items.push_back(std::move(model));
    }
    rs->close();
  });
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::optional<pf::Value> value = texts[i] ? decodeJson(*texts[i]) : std::nullopt;
    if (value) {
      items[i].modelObject = std::move(*value);
    } else {
      pf::logLine("ERROR, faild to prase to json.");
      items[i].modelObject = texts[i] ? pf::Value(std::move(*texts[i])) : pf::Value();
    }
  }
  return items;
}

std::uint64_t TnqKeyValueStore::getCountFromTabel(NullableString tableName) {
  if (!checkTableName(tableName)) return 0;
  const std::string sql = statementText("SELECT count(*) as num from ", tableName);
  std::uint64_t count = 0;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    auto rs = db->executeQuery(sql);
    if (!rs) return;
    if (rs->next()) count = rs->unsignedLongLongIntForColumnIndex(0);  // "num", the only column
    rs->close();
  });
  return count;
}

// ---------------------------------------------------------------------------------------------
// Deletes

void TnqKeyValueStore::deleteObjectById(NullableString objectId, NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string sql = statementText("DELETE from ", tableName, " where id = ?");
  bool ok = false;
  inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql, idValue(objectId)); });
  if (!ok) pf::logLine("ERROR, failed to delete item from table: " + tableName.description());
}

void TnqKeyValueStore::deleteObjectsByIdArray(const std::vector<std::string>& objectIds, NullableString tableName) {
  if (!checkTableName(tableName)) return;
  const std::string prefix = statementText("DELETE from ", tableName, " where id in ( ");
  // One statement per chunk of ids, all inside one savepoint when there is more than one chunk.
  // A chunk fills the slots beyond its own ids with its last id again, which deletes nothing more.
  auto deleteAll = [&](SqDatabase& db) {
    std::size_t start = 0;
    do {
      const std::size_t count = std::min(kIdsPerStatement, objectIds.size() - start);
      const std::size_t slots = placeholderCount(count);
      std::string sql = prefix;
      for (std::size_t i = 0; i < slots; ++i) sql += i == 0 ? "?" : ",?";
      sql += " )";
      SqArguments ids;
      ids.reserve(slots);
      for (std::size_t i = 0; i < slots; ++i)
        ids.push_back(SqValue::textView(objectIds[start + std::min(i, count - 1)]));
      if (!db.executeUpdateWithArgumentsInArray(sql, ids)) return false;
      start += count;
    } while (start < objectIds.size());
    return true;
  };
  bool ok = false;
  inDatabase([&](SqDatabase* db) {
    if (!db) return;
    if (objectIds.size() <= kIdsPerStatement) {
      ok = deleteAll(*db);
    } else {
      bool deleted = false;
      auto error = db->inSavePoint([&](bool* rollback) {
        deleted = deleteAll(*db);
        *rollback = !deleted;
      });
      ok = deleted && !error;
    }
  });
  if (!ok) pf::logLine("ERROR, failed to delete items by ids from table: " + tableName.description());
}

void TnqKeyValueStore::deleteObjectsByIdPrefix(NullableString objectIdPrefix, NullableString tableName) {
  if (!checkTableName(tableName)) return;
  // The id's first bytes against the whole prefix, ASCII letters folded as LIKE folds them. LIKE
  // itself reads its pattern only up to a NUL, so a prefix holding one would match far more.
  const std::string sql = statementText("DELETE from ", tableName,
                                        " where substr(CAST(lower(id) AS BLOB), 1, ?) = CAST(lower(?) AS BLOB)");
  bool ok = false;
  if (objectIdPrefix) {
    const std::string_view prefix = objectIdPrefix.text();
    const auto length = static_cast<std::int64_t>(prefix.size());
    inDatabase([&](SqDatabase* db) { ok = db && db->executeUpdate(sql, length, SqValue::textView(prefix)); });
  }
  if (!ok) pf::logLine("ERROR, failed to delete items by id prefix from table: " + tableName.description());
}

}  // namespace kvstore
