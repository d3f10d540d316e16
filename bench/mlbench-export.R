# Writes eight of R's mlbench tables as CSV files for kestrane-tool import:
#   Rscript bench/mlbench-export.R OUTDIR
# Kestrane reads numbers only, so the columns are encoded here:
#   numbers and numeric-looking (ordered) factors: their value, a missing value
#     the column's median;
#   logical and two-level factors: 0 and 1, a missing value 0.5;
#   other factors: one 0/1 column per level (a missing value: all 0);
#   identifier columns are dropped. The class column comes last, named "class".
suppressMessages(library(mlbench))
out <- commandArgs(trailingOnly = TRUE)[1]
sets <- list(BreastCancer = "Class", HouseVotes84 = "Class", Zoo = "type",
             Soybean = "Class", Vowel = "Class", LetterRecognition = "lettr",
             Shuttle = "Class", Satellite = "classes")
for (name in names(sets)) {
  env <- new.env()
  data(list = name, package = "mlbench", envir = env)
  d <- get(name, envir = env)
  cls <- sets[[name]]
  y <- as.character(d[[cls]])
  d[[cls]] <- NULL
  d$Id <- NULL
  cols <- list()
  for (col in names(d)) {
    v <- d[[col]]
    if (is.logical(v)) {
      x <- as.numeric(v); x[is.na(x)] <- 0.5; cols[[col]] <- x
    } else if (is.factor(v) && nlevels(v) == 2) {
      x <- as.numeric(v) - 1; x[is.na(x)] <- 0.5; cols[[col]] <- x
    } else if (is.factor(v) && !any(is.na(suppressWarnings(as.numeric(levels(v)))))) {
      x <- as.numeric(as.character(v)); x[is.na(x)] <- median(x, na.rm = TRUE); cols[[col]] <- x
    } else if (is.factor(v)) {
      for (l in levels(v)) {
        x <- as.numeric(v == l); x[is.na(x)] <- 0; cols[[paste0(col, "_", l)]] <- x
      }
    } else {
      x <- as.numeric(v); x[is.na(x)] <- median(x, na.rm = TRUE); cols[[col]] <- x
    }
  }
  frame <- as.data.frame(cols, check.names = TRUE)
  frame$class <- y
  write.csv(frame, file.path(out, paste0(name, ".csv")), row.names = FALSE, quote = FALSE)
  cat(name, nrow(frame), "rows,", ncol(frame) - 1, "features,", length(unique(y)), "classes\n")
}
