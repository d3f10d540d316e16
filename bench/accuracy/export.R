# Writes the mlbench classification sets the accuracy benchmark uses, one CSV
# file each (class in the last column, missing values as NA), into the folder
# given as the first argument.
args <- commandArgs(trailingOnly = TRUE)
out <- args[1]
suppressPackageStartupMessages(library(mlbench))
sets <- list(
  Vowel = "Class", Satellite = "classes", Zoo = "type", HouseVotes84 = "Class",
  Soybean = "Class", BreastCancer = "Class", Shuttle = "Class", LetterRecognition = "lettr"
)
for (name in names(sets)) {
  env <- new.env()
  data(list = name, package = "mlbench", envir = env)
  d <- get(name, envir = env)
  d$Id <- NULL # BreastCancer's sample number says nothing of the class
  cls <- sets[[name]]
  d <- d[, c(setdiff(names(d), cls), cls)]
  names(d)[ncol(d)] <- "class"
  write.csv(d, file.path(out, paste0(name, ".csv")), row.names = FALSE, na = "NA")
}
