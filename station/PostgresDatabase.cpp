// The records database on PostgreSQL, through libpq.
#include <libpq-fe.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <set>

#include "station/PostgresSchema.h"
#include "station/RecordDatabase.h"
#include "station/RecordRow.h"

namespace kestrel {

namespace {

// Short, so that a station that cannot reach the server goes on at once (libpq takes 2 s at least).
constexpr const char* kConnectSeconds = "2";
// Serialises the schema's making between stations that start at once.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(4711034)";

struct ResultCloser {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultCloser>;
struct ConnectionCloser {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};

// libpq's message on one line: it may hold a line feed and a tab ("...failed: Connection refused\n\tIs the server
// running..."), which would break the line a window or a log shows.
std::string Trimmed(const char* text) {
    std::string message;
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        const bool blank = *c == '\n' || *c == '\t' || *c == ' ' || *c == '\r';
        if (!blank) {
            message += *c;
        } else if (!message.empty() && message.back() != ' ') {
            message += ' ';
        }
    }
    while (!message.empty() && message.back() == ' ') {
        message.pop_back();
    }
    return message;
}

class PostgresDatabase final : public RecordDatabase {
public:
    explicit PostgresDatabase(std::string url) : url_(std::move(url)) {}

    DatabaseResult Connect() override {
        if (connection_ && PQstatus(connection_.get()) == CONNECTION_OK) {
            return {};
        }
        const std::array<const char*, 4> keys{"dbname", "connect_timeout", "fallback_application_name", nullptr};
        const std::array<const char*, 4> values{url_.c_str(), kConnectSeconds, "kestrel-loader", nullptr};
        connection_.reset(PQconnectdbParams(keys.data(), values.data(), 1));
        if (!connection_) {
            return {DatabaseState::Unreachable, "out of memory"};
        }
        if (PQstatus(connection_.get()) != CONNECTION_OK) {
            const std::string why = Trimmed(PQerrorMessage(connection_.get()));
            connection_.reset();
            // A server that answers a ping is there: it refused who we are or what we asked for.
            const bool answered = PQpingParams(keys.data(), values.data(), 1) == PQPING_OK;
            return {answered ? DatabaseState::Refused : DatabaseState::Unreachable, why};
        }
        PQsetNoticeProcessor(
            connection_.get(), [](void*, const char*) {}, nullptr);
        const char* host = PQhost(connection_.get());
        name_ = std::string("database ") + PQdb(connection_.get()) + " on " + (host != nullptr ? host : "localhost");
        DatabaseResult result = Exec("SET statement_timeout = 10000");
        if (result) {
            result = MakeSchema();
        }
        if (result) {
            result = Prepare();
        }
        if (!result) {
            connection_.reset();
        }
        return result;
    }

    DatabaseResult Store(const std::vector<LogRecordText>& records, std::size_t& stored) override {
        stored = 0;
        if (DatabaseResult connected = Connect(); !connected) {
            return connected;
        }
        std::set<std::string> held;
        DatabaseResult result = Held(records, held);
        result = result ? Exec("BEGIN") : result;
        for (std::size_t i = 0; result && i < records.size(); ++i) {
            const auto row = MakeRecordRow(records[i]);
            if (!row || held.count(row->sha256) != 0) {
                continue;
            }
            // $5 to $18, in the order of the statement's columns.
            const std::array<const std::optional<std::string>*, 14> columns{
                &row->station, &row->operatorName, &row->lot,     &row->port,           &row->box,
                &row->serial,  &row->label,        &row->attempt, &row->firmwareSha256, &row->imageSha256,
                &row->outcome, &row->exitStatus,   &row->seconds, &row->stage};
            std::array<const char*, 20> values{};
            std::array<int, 20> lengths{}, formats{};
            values[0] = row->sha256.c_str();
            values[1] = row->prev.c_str();
            values[2] = row->kind.c_str();
            values[3] = row->time.c_str();
            for (std::size_t k = 0; k < columns.size(); ++k) {
                values[4 + k] = *columns[k] ? (*columns[k])->c_str() : nullptr;
            }
            values[18] = row->json.c_str();
            // The record's bytes as the log holds them, whatever their encoding.
            values[19] = records[i].text.data();
            lengths[19] = static_cast<int>(records[i].text.size());
            formats[19] = 1;
            Result inserted(
                PQexecPrepared(connection_.get(), "store", 20, values.data(), lengths.data(), formats.data(), 0));
            result = Check(inserted.get(), PGRES_COMMAND_OK);
            if (result) {
                stored += std::string(PQcmdTuples(inserted.get())) == "1" ? 1 : 0;
            }
        }
        result = result ? Exec("COMMIT") : result;
        if (!result) {
            Close();  // a transaction left open would refuse every later statement
            stored = 0;
        }
        return result;
    }

    DatabaseResult Fetch(const std::string& lot, const std::string& since,
                         std::vector<StoredRecord>& records) override {
        if (DatabaseResult connected = Connect(); !connected) {
            return connected;
        }
        const char* values[2] = {lot.empty() ? nullptr : lot.c_str(), since.empty() ? nullptr : since.c_str()};
        // Binary results: the record's bytes come back as they were stored.
        Result rows(PQexecParams(connection_.get(),
                                 "SELECT text, record_sha256, prev_sha256 FROM kestrel_records "
                                 "WHERE ($1::text IS NULL OR lot = $1::text) "
                                 "AND ($2::timestamp IS NULL OR time >= $2::timestamp AT TIME ZONE 'UTC') ORDER BY id",
                                 2, nullptr, values, nullptr, nullptr, 1));
        if (DatabaseResult result = Check(rows.get(), PGRES_TUPLES_OK); !result) {
            return result;
        }
        for (int i = 0; i < PQntuples(rows.get()); ++i) {
            const auto field = [&](int column) {
                return std::string(PQgetvalue(rows.get(), i, column),
                                   static_cast<std::size_t>(PQgetlength(rows.get(), i, column)));
            };
            records.push_back({field(0), field(1), field(2)});
        }
        return {};
    }

    DatabaseResult LabelPassed(const std::string& label, bool& passed) override {
        Result rows;
        const DatabaseResult result = Query(
            "SELECT EXISTS (SELECT 1 FROM kestrel_records "
            "WHERE label = $1 AND kind = 'result' AND exit_status = 0)",
            StoredLabel(label), rows);
        passed = result && PQntuples(rows.get()) == 1 && PQgetvalue(rows.get(), 0, 0)[0] == 't';
        return result;
    }

    DatabaseResult MakeSequence(const std::string& name, std::uint64_t first, std::uint64_t block) override {
        DatabaseResult result = Connect();
        const std::string quoted = result ? Quoted(name) : std::string();
        // Most stations find it made: no lock, and no right to create anything needed.
        Result found;
        result = result ? Query("SELECT to_regclass($1) IS NOT NULL", quoted, found) : result;
        if (result && PQgetvalue(found.get(), 0, 0)[0] == 't') {
            return {};
        }
        // DDL takes no parameters: the name goes in quoted as an identifier, the numbers as the digits made here.
        const std::string make = "CREATE SEQUENCE IF NOT EXISTS " + quoted + " MINVALUE 0 INCREMENT BY " +
                                 std::to_string(block) + " START WITH " + std::to_string(first);
        result = result ? Exec("BEGIN") : result;
        result = result ? Exec(kSchemaLock, PGRES_TUPLES_OK) : result;
        result = result ? Exec(make.c_str()) : result;
        result = result ? Exec("COMMIT") : result;
        if (!result) {
            Close();  // a transaction left open would refuse every later statement
            result.message = "cannot make the sequence " + name + ": " + result.message;
        }
        return result;
    }

    DatabaseResult TakeBlock(const std::string& name, std::uint64_t& first, std::uint64_t& count) override {
        DatabaseResult result = Connect();
        Result row;
        result = result ? Query(
                              "SELECT nextval($1::regclass), seqincrement FROM pg_sequence "
                              "WHERE seqrelid = $1::regclass",
                              Quoted(name), row)
                        : result;
        if (!result) {
            return result;
        }
        const auto number = [&row](int column, std::uint64_t& value) {
            const char* text = PQgetvalue(row.get(), 0, column);
            const char* end = text + PQgetlength(row.get(), 0, column);
            const auto [at, error] = std::from_chars(text, end, value);
            return error == std::errc() && at == end;
        };
        if (PQntuples(row.get()) != 1 || !number(0, first) || !number(1, count) || count == 0) {
            return {DatabaseState::Refused, "the sequence " + name + " does not count up from 0"};
        }
        return {};
    }

    void Close() override { connection_.reset(); }

    std::string Name() const override { return name_; }

private:
    DatabaseResult Check(PGresult* result, ExecStatusType wanted) {
        if (result != nullptr && PQresultStatus(result) == wanted) {
            return {};
        }
        const std::string why =
            Trimmed(result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(connection_.get()));
        const bool lost = PQstatus(connection_.get()) != CONNECTION_OK;
        return {lost ? DatabaseState::Unreachable : DatabaseState::Refused, why};
    }

    DatabaseResult Exec(const char* sql, ExecStatusType wanted = PGRES_COMMAND_OK) {
        Result result(PQexec(connection_.get(), sql));
        return Check(result.get(), wanted);
    }

    // Which of `records` the database holds already: a run starts from the log's first record, and a long log
    // would otherwise be offered whole every time.
    DatabaseResult Held(const std::vector<LogRecordText>& records, std::set<std::string>& held) {
        std::string keys = "{";
        for (const auto& record : records) {
            const std::string key = record.Field("sha256");
            // Hex digits only, so the array's text needs no quoting.
            if (key.size() == 64 && key.find_first_not_of("0123456789abcdef") == std::string::npos) {
                keys += (keys.size() > 1 ? "," : "") + key;
            }
        }
        keys += "}";
        const char* values[1] = {keys.c_str()};
        Result rows(PQexecParams(connection_.get(),
                                 "SELECT record_sha256 FROM kestrel_records WHERE record_sha256 = ANY($1::char(64)[])",
                                 1, nullptr, values, nullptr, nullptr, 0));
        DatabaseResult result = Check(rows.get(), PGRES_TUPLES_OK);
        for (int i = 0; result && i < PQntuples(rows.get()); ++i) {
            held.insert(PQgetvalue(rows.get(), i, 0));
        }
        return result;
    }

    // Rows of one statement with one text parameter, connected first.
    DatabaseResult Query(const char* sql, const std::string& parameter, Result& rows) {
        if (DatabaseResult connected = Connect(); !connected) {
            return connected;
        }
        const char* values[1] = {parameter.c_str()};
        rows.reset(PQexecParams(connection_.get(), sql, 1, nullptr, values, nullptr, nullptr, 0));
        return Check(rows.get(), PGRES_TUPLES_OK);
    }

    // `name` as an identifier in a statement's text, quoted by the server's own rules.
    std::string Quoted(const std::string& name) {
        std::unique_ptr<char, decltype(&PQfreemem)> quoted(
            PQescapeIdentifier(connection_.get(), name.c_str(), name.size()), &PQfreemem);
        return quoted ? quoted.get() : std::string();
    }

    int SchemaVersion() {
        Result result(PQexec(connection_.get(),
                             "SELECT CASE WHEN to_regclass('kestrel_schema') IS NULL THEN 0 "
                             "ELSE (SELECT coalesce(max(version), 0) FROM kestrel_schema) END"));
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) {
            return -1;
        }
        return std::atoi(PQgetvalue(result.get(), 0, 0));
    }

    DatabaseResult MakeSchema() {
        const auto& migrations = SchemaMigrations();
        const int latest = static_cast<int>(migrations.size());
        // Most connections find it made: no lock, and no right to create anything needed.
        if (SchemaVersion() >= latest) {
            return {};
        }
        DatabaseResult result = Exec("BEGIN");
        result = result ? Exec(kSchemaLock, PGRES_TUPLES_OK) : result;
        result = result ? Exec("CREATE TABLE IF NOT EXISTS kestrel_schema (version integer NOT NULL)") : result;
        const int version = result ? SchemaVersion() : -1;
        for (int next = version; result && next >= 0 && next < latest; ++next) {
            result = Exec(migrations[static_cast<std::size_t>(next)].c_str());
        }
        if (result && version < latest) {
            const std::string mark =
                "DELETE FROM kestrel_schema; INSERT INTO kestrel_schema VALUES (" + std::to_string(latest) + ")";
            result = Exec(mark.c_str());
        }
        result = result ? Exec("COMMIT") : result;
        if (!result) {
            result.message = "cannot make the records' schema: " + result.message;
        }
        return result;
    }

    DatabaseResult Prepare() {
        Result prepared(PQprepare(
            connection_.get(), "store",
            "INSERT INTO kestrel_records (record_sha256, prev_sha256, kind, time, station, operator, lot, port, box, "
            "serial, label, attempt, firmware_sha256, image_sha256, outcome, exit_status, seconds, stage, record, "
            "text) VALUES ($1, $2, $3, $4::timestamptz, $5, $6, $7, $8, $9, $10, $11, $12::integer, $13, $14, $15, "
            "$16::integer, $17::double precision, $18, $19::jsonb, $20::bytea) "
            "ON CONFLICT (record_sha256) DO NOTHING",
            20, nullptr));
        return Check(prepared.get(), PGRES_COMMAND_OK);
    }

    std::string url_;
    std::string name_ = "the database";
    std::unique_ptr<PGconn, ConnectionCloser> connection_;
};

}  // namespace

bool RecordDatabaseAvailable() { return true; }

std::unique_ptr<RecordDatabase> OpenRecordDatabase(const std::string& url) {
    return std::make_unique<PostgresDatabase>(url);
}

}  // namespace kestrel
