// ArticleInfo: one article's record from the register (GetArticleInfo).
#pragma once

#include "comserver/records/record.h"
#include "serialproto/reports.h"

namespace records {

// A new ArticleInfo with the client's reference, or the failure (nothing to release).
// Code and CodeEx are those the client asked for; the name is converted from the
// register's code page.
HRESULT CreateArticleInfo(const Context& context, LONG code, LONG codeEx, const serialproto::ArticleInfoData& data,
                          IArticleInfo** out);

} // namespace records
