#!/bin/sh
# Makes the files of this example from iris.csv with kestrane-tool:
#   iris-setosa.dat, iris-versicolor.dat, iris-virginica.dat  training rows (70 % of each class)
#   iris-test.dat                                             the other 30 %, held out
#   iris.ranges                                               feature scaling and class names
#   iris.param                                                the training run
#   iris-initial.wgt                                          the network to start from
# Usage: examples/iris/make-example.sh   (after building kestrane-tool in build/)
set -e
here=$(cd "$(dirname "$0")" && pwd)
tool=${KESTRANE_TOOL:-$here/../../build/kestrane-tool}
cd "$here"
"$tool" import iris.csv --holdout 0.3 --seed 7 \
  --epochs 2000 --change-after 20 --learning-rate 0.1 --momentum 0.5 -o iris
"$tool" create --inputs 4 --input-mfs 3 --rules 12 --outputs 3 --output-mfs 3 \
  --seed 7 -o iris-initial.wgt
