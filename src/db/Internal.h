#pragma once
// Private to qv_db: the backend interface and the value helpers both backends share.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/Db.h"

namespace qv::db::detail {

// One open session. Every method that talks to the server counts its round trips on the
// owning connection and throws EDatabaseError; a broken link is TErrorKind::LinkLost.
class Backend {
 public:
  explicit Backend(TADOConnection& Owner) : owner_(Owner) {}
  virtual ~Backend() = default;
  virtual TBackend Kind() const noexcept = 0;
  // The session is still usable (no broken link seen).
  virtual bool Alive() const noexcept = 0;
  // Runs a statement. When the statement produced a result set and Out is given, it gets
  // every row of the first one; HadResult tells whether there was one. Returns the
  // affected row count, or -1.
  virtual int64_t Query(const std::string& Sql, TResultTable* Out, bool* HadResult) = 0;
  // The same for one statement whose placeholders take Params, as text, bound apart from it.
  virtual int64_t QueryParams(const std::string& Sql, const std::vector<std::string>& Params,
                              TResultTable* Out, bool* HadResult) = 0;
  // Reads the declaration of a procedure; false when there is none.
  virtual bool DescribeProc(const std::string& Name, std::vector<TParameter>& Out) = 0;
  // Calls a procedure with Params (in declaration order, hidden ones included); updates
  // the output parameters; fills Out with the first result set when WantRows.
  virtual void CallProc(const std::string& Name, std::vector<TParameter>& Params, bool WantRows,
                        TResultTable& Out, bool& HadResult) = 0;

 protected:
  TADOConnection& owner_;
};

std::unique_ptr<Backend> OpenPostgres(TADOConnection& Owner, const std::string& ConnInfo);
std::unique_ptr<Backend> OpenOdbc(TADOConnection& Owner, const std::string& ConnStr, int TimeoutSeconds);

// Text helpers.
std::string Trim(std::string_view s);
std::string Lower(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Renders a server's text of a value of the given type as ADO's AsString would.
std::string RenderText(TFieldType Type, std::string_view ServerText);
// "2024-01-02 03:04:05.123+08" -> "2024-01-02 03:04:05" ("2024-01-02" at midnight).
std::string RenderDateTime(std::string_view ServerText);
std::string RenderTime(std::string_view ServerText);

// Converts an assigned text to the canonical form for a parameter of this type; throws
// EDatabaseError(Conversion). Canonical: integers decimal, booleans "1"/"0", numbers as a
// plain decimal or exponent text, everything else unchanged.
std::string ConvertForParam(TFieldType Type, std::string_view Text, const std::string& ParamName);
bool IsIntegerType(TFieldType t);
bool IsNumberType(TFieldType t);

}  // namespace qv::db::detail
