// The engine's exceptions: how each one builds its localised message from what went wrong.
#include "core/internal.h"

#include "ztscript.h"

#include <ztfile.h>

namespace zt::script {

using core::makeMessage;

errParsingException::errParsingException(const zt::string& text, const zt::exception* inner)
    : parserException(makeMessage(u"EParsing", u"Error parsing [String]", {{u"String", &text}}), inner) {}

errParsingParamTypeException::errParsingParamTypeException(const zt::string& type, const zt::exception* inner)
    : parserException(makeMessage(u"EParsingParType", u"Error parsing parametertype \"[Type]\"", {{u"Type", &type}}),
                      inner) {}

errParsingDataTypeException::errParsingDataTypeException(const zt::string& type, const zt::exception* inner)
    : parserException(makeMessage(u"EParsingDataType", u"Error parsing datatype \"[Type]\"", {{u"Type", &type}}),
                      inner) {}

errParsingDefaultOfParamException::errParsingDefaultOfParamException(const zt::string& def, const zt::string& param,
                                                                     const zt::exception* inner)
    : parserException(makeMessage(u"EParsingDefOfParam",
                              u"Error parsing defaultvalue \"[Def]\" of parameter \"[Param]\"",
                              {{u"Def", &def}, {u"Param", &param}}),
                      inner) {}

missingBracketException::missingBracketException(const zt::string& bracket, const zt::string& statementText,
                                                 const zt::exception* inner)
    : parserException(makeMessage(u"EMissCloseBracket", u"Missing closing bracket (\"[Br]\" for statement \"[Str]\"",
                              {{u"Br", &bracket}, {u"Str", &statementText}}),
                      inner) {}

missingStringEndException::missingStringEndException(const zt::string& statementText, const zt::exception* inner)
    : parserException(makeMessage(u"EMissStringEnd", u"Missing end of string for statement \"[Str]\"",
                              {{u"Str", &statementText}}),
                      inner) {}

numParamsException::numParamsException(const zt::string& function, int required)
    : parserException([&] {
          zt::string n = zt::string::format(u"%d", required);
          return makeMessage(u"ENumParams", u"[Fct]: Number of parameters < [NReq]", {{u"Fct", &function}, {u"NReq", &n}});
      }()) {}

scriptFunctionNotFoundException::scriptFunctionNotFoundException(const zt::string& function, const zt::file& file,
                                                                 const zt::exception* inner)
    : parserException(makeMessage(u"EFunNotFound", u"Function \"[Fun]\" not found in file \"[File]\"",
                              {{u"Fun", &function}, {u"File", &file.name()}}),
                      inner) {}

// A detail, when there is one, follows in brackets after a blank; without one the message ends
// with the quoted statement.
scriptExecException::scriptExecException(const zt::string& script, const zt::string* detail,
                                         const zt::exception* inner)
    : scriptException([&] {
          const bool shown = detail && !detail->empty();
          zt::string det;
          if (shown) det = u" (" + *detail + u")";
          return makeMessage(u"EExecError", u"Error executing script \"[Script]\"[Det]",
                         {{u"Script", &script}, {u"Det", shown ? &det : nullptr}});
      }(),
                      inner) {}

scriptMessageException::scriptMessageException(const zt::string& message, const zt::string& function)
    : scriptExecException(message + u"\n\n" + function, nullptr, nullptr), mMessage(message), mFunction(function) {}

hostException::hostException(const char* what)
    : scriptException([&] {
          const zt::string text = zt::string::fromUtf8(what ? what : "");
          return makeMessage(u"EHost", u"[What]", {{u"What", &text}});
      }(),
                      nullptr) {}

malformedCodeCallException::malformedCodeCallException(const zt::string& codeCall)
    : scriptException(makeMessage(u"EMalformedCodeCall",
                                  u"Malformed code call \"[Call]\": expected script$FILE$FUNCTION",
                                  {{u"Call", &codeCall}}),
                      nullptr) {}

variableNotFoundException::variableNotFoundException(const zt::string& name, const zt::exception* inner)
    : scriptException(makeMessage(u"EVarNotFound", u"Variable \"[Var]\" not found", {{u"Var", &name}}), inner) {}

namespace {
locString limitMessage(executionLimitException::limit which, std::uint64_t amount) {
    const zt::string number = zt::string::format(u"%llu", static_cast<unsigned long long>(amount));
    switch (which) {
    case executionLimitException::limit::steps:
        return makeMessage(u"EStepLimit", u"The call was stopped: it reached its limit of [Steps] executed statements",
                           {{u"Steps", &number}});
    case executionLimitException::limit::time:
        return makeMessage(u"ETimeLimit", u"The call was stopped: its time limit ran out", {});
    case executionLimitException::limit::memory:
        return makeMessage(u"EMemoryLimit", u"The call was stopped: it used more than its limit of [Bytes] bytes of memory",
                           {{u"Bytes", &number}});
    case executionLimitException::limit::cancelled:
        break;
    }
    return makeMessage(u"ECancelled", u"The call was cancelled", {});
}
} // namespace

executionLimitException::executionLimitException(limit which, std::uint64_t amount)
    : scriptException(limitMessage(which, amount), nullptr), mWhich(which) {}

globalVarNotFoundException::globalVarNotFoundException(const zt::string& name, const zt::exception* inner)
    : scriptException(makeMessage(u"EGlobNotFound", u"Global variable \"[Var]\" not found", {{u"Var", &name}}), inner) {}

parameterNotFoundException::parameterNotFoundException(const zt::string& name, const zt::exception* inner)
    : scriptException(makeMessage(u"EParamNotFound", u"Parameter \"[Param]\" not found", {{u"Param", &name}}), inner) {}

inParameterNotFoundException::inParameterNotFoundException(const zt::string& name, const zt::exception* inner)
    : scriptException(makeMessage(u"EInParamNotFound", u"Input parameter \"[Name]\" not found", {{u"Name", &name}}),
                      inner) {}

prepareParameterException::prepareParameterException(const zt::string& function, const zt::string* par,
                                                     const zt::exception* inner)
    : scriptException([&] {
          const bool shown = par && !par->empty();
          zt::string text;
          if (shown) text = u" (" + *par + u")";
          return makeMessage(u"EPrepareparam", u"Error preparing parameter for function \"[Fun]\"[Par]",
                             {{u"Fun", &function}, {u"Par", shown ? &text : nullptr}});
      }(),
                      inner) {}

exceptionDetail::exceptionDetail(const zt::string& detail) : zt::exception(locString()), mDetail(detail) {}

} // namespace zt::script
